#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "report/size_map.h"

namespace zelkor {

// What a report page shows, gathered beforehand from the selected entries of
// an archive: the page itself knows nothing of archives. Every list is bounded
// (LargestCount and IncompressibleRows entries with names of at most
// KeptNameLimit bytes; ExtensionLimit extensions; the size map's tree).
struct ReportContents {
    static constexpr std::size_t LargestCount = 20;
    // Files with more raw bytes than this that are stored raw are listed as
    // candidates to store pre-compressed or to leave out.
    static constexpr std::uint64_t IncompressibleFrom = 64 * 1024;
    static constexpr std::size_t IncompressibleRows = 100;
    static constexpr std::size_t ExtensionLimit = 4096;
    static constexpr std::size_t KeptNameLimit = 1024;

    // One entry named in a table.
    struct Listed {
        std::uint64_t index = 0;
        std::string name;  // the first KeptNameLimit bytes; empty without names
        std::uint32_t nameHash = 0;
        std::uint64_t raw = 0;
        std::uint64_t stored = 0;
    };

    explicit ReportContents(bool withNames) : hasNames(withNames), map(withNames) {}

    // The heading: the archive's path, which key file was read, and which
    // entries were selected ("all 12 entries", say).
    std::string archivePath;
    std::string keyFileSummary;
    std::string entries;
    bool hasNames;  // without them, entries are shown by name hash

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

}  // namespace zelkor
