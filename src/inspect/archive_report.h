#pragma once

#include <cstddef>
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "inspect/entry_selector.h"
#include "inspect/inspected_archive.h"
#include "inspect/size_map.h"

namespace zelkor {

// The `report` command: one self-contained HTML page (ReportPage) of what
// takes space in an archive. Like `list`, it reads only the records, so any key
// file choice works, and it walks the entries without holding them: what it
// keeps is bounded whatever their number (the size map's tree, see SizeMap;
// LargestCount and IncompressibleRows entries with names of at most
// KeptNameLimit bytes; ExtensionLimit extensions), and the shared name hashes
// are found as verify finds them, with a smaller budget.
class ArchiveReport {
public:
    static constexpr std::size_t LargestCount = 20;
    // Files with more raw bytes than this that are stored raw are listed as
    // candidates to store pre-compressed or to leave out.
    static constexpr std::uint64_t IncompressibleFrom = 64 * 1024;
    static constexpr std::size_t IncompressibleRows = 100;
    static constexpr std::size_t ExtensionLimit = 4096;
    static constexpr std::size_t KeptNameLimit = 1024;
    static constexpr std::size_t SharedSearchBudget = std::size_t{1} << 20;

    // One entry named in a table.
    struct Listed {
        std::uint64_t index = 0;
        std::string name;  // the first KeptNameLimit bytes; empty without names
        std::uint32_t nameHash = 0;
        std::uint64_t raw = 0;
        std::uint64_t stored = 0;
    };

    struct Contents {
        explicit Contents(bool withNames) : map(withNames) {}

        SizeMap::Sizes totals;
        std::uint64_t storedRaw = 0;         // entries that LZ4 did not shrink
        std::uint64_t sharedNameHashes = 0;  // name hashes held by two or more entries
        std::uint64_t sharingEntries = 0;    // the entries that hold them
        // By extension (lower case, without the dot; "" for none), largest first.
        std::vector<std::pair<std::string, SizeMap::Sizes>> extensions;
        SizeMap::Sizes otherExtensions;  // met when ExtensionLimit were already counted
        std::vector<Listed> largest;         // by stored size, largest first
        std::vector<Listed> incompressible;  // the same, at most IncompressibleRows
        SizeMap::Sizes allIncompressible;
        SizeMap map;
    };

    // Walks the selected entries.
    static Contents Gather(const InspectedArchive& archive, EntrySelector& selector);

    // The extension of an archived name as the report groups it: what follows
    // the last "." of its last component, in ASCII lower case, when the dot is
    // not the component's first character and 1 to 16 bytes follow; otherwise "".
    static std::string Extension(std::string_view name);

    // Gathers, renders and writes the page to `outputPath` (beside it, renamed
    // into place), then prints one line on `out`. Throws std::runtime_error when
    // the page cannot be written, and when `outputPath` is the archive or its key
    // file, which are never replaced.
    static void Write(const InspectedArchive& archive, EntrySelector& selector, const std::string& outputPath,
                      std::ostream& out);
};

}  // namespace zelkor
