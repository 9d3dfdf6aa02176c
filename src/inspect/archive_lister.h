#pragma once

#include <ostream>

#include "inspect/entry_selector.h"
#include "inspect/inspected_archive.h"
#include "inspect/merged_view.h"

namespace zelkor {

// The `list` command: one row per selected entry in archive order, then their
// totals. Reads only the records, never the stored bytes, so it works with any
// key file choice.
class ArchiveLister {
public:
    // Columns: index, raw size, stored size, "lz4" or "raw", content hash, and the
    // name (or name hash) last, where its varying width disturbs no column.
    static void PrintText(const InspectedArchive& archive, EntrySelector& selector, std::ostream& out);

    // {"archive", "keyFile", "entries": [{index, name, [nameHex], nameHash,
    // rawSize, storedSize, method, contentHash}], "totals": {entries, rawBytes,
    // storedBytes, ratio}}; ratio is stored / raw, null when raw is 0.
    static void PrintJson(const InspectedArchive& archive, EntrySelector& selector, std::ostream& out);

    // The merged view of several archives: its sources, then one row per
    // selected entry in the order of names, each with the number of the
    // archive it comes from before its index there, then the totals.
    static void PrintMergedText(const MergedView& view, EntrySelector& selector, std::ostream& out);
    // {"archives": [...], "entries": [{"archive", "index", "name", ["nameHex"],
    // "nameHash", "rawSize", "storedSize", "method", "contentHash"}], "totals"}
    static void PrintMergedJson(const MergedView& view, EntrySelector& selector, std::ostream& out);
};

}  // namespace zelkor
