#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

namespace zelkor {

// Finds the entries of one archive that a reader could not tell apart: a reader
// looks an entry up by the CRC-32 of its normalised name, so two entries with
// the same normalised name, or different names of one hash, shadow each other.
//
// The candidates (every name a command might store, in order) are hashed and
// sorted once, so that only those sharing a hash are followed as entries are
// stored: about 8 bytes per candidate while it is built, 1 bit per candidate
// afterwards, plus what the sharing ones hold. The names it points at must
// outlive it.
// Used by one thread at a time.
class NameClashes {
public:
    // `names[i]` is candidate i's archived name, or null when it has none.
    explicit NameClashes(std::vector<const std::string*> names);

    struct Clash {
        std::size_t earlier;  // the candidate stored before that this one shadows
        bool sameName;        // the same normalised name, not just the same hash
    };

    // Records that candidate `i` was stored. The clash with an earlier stored
    // one, if any: the first of the same normalised name, or else the first of
    // the same name hash.
    std::optional<Clash> Stored(std::size_t i);

private:
    std::vector<const std::string*> names_;
    std::vector<bool> sharing_;  // candidate i shares its hash with another
    // For each shared hash: the first candidate of it stored, and the first of
    // each normalised name (so that a crafted run of names of one hash costs
    // no more per entry than any other).
    struct Group {
        std::size_t first = 0;
        std::unordered_map<std::string, std::size_t> firstByName;
    };
    std::unordered_map<std::uint32_t, Group> stored_;
};

}  // namespace zelkor
