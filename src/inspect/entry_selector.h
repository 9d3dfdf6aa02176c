#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace zelkor {

// The entries that the patterns of a command line select. Without patterns,
// every entry. With them, each entry whose archived name at least one pattern
// matches as a whole, by the wildcard rules of Ignore patterns ("*" any run of
// characters, "?" one character), with names compared the way the name hash
// compares them: ASCII letters regardless of case, "\" equal to "/".
class EntrySelector {
public:
    explicit EntrySelector(std::vector<std::string> patterns = {});

    bool SelectsAll() const { return given_.empty(); }

    // Whether the entry of this name is selected. Notes every pattern that
    // matches it, for Unmatched.
    bool Selects(std::string_view name);

    // The patterns, as given, that have matched no name so far.
    std::vector<std::string> Unmatched() const;

    // How a number of entries is told in summaries: "1 entry", "3 entries", or
    // with patterns "3 matching entries".
    std::string Entries(std::uint64_t count) const;

private:
    std::vector<std::string> given_;
    std::vector<std::string> normalized_;
    std::vector<bool> matched_;
};

}  // namespace zelkor
