#pragma once

#include <ostream>

#include "inspect/archive_command.h"
#include "inspect/entry_selector.h"
#include "inspect/inspected_archive.h"
#include "inspect/merged_view.h"

namespace zelkor {

// `list ARCHIVE [PATTERN...] [--json]`: one row per selected entry in archive
// order, then their totals; exit status 0. Reads only the records, never the
// stored bytes, so it works with any key file choice.
class ListCommand : public ArchiveCommand {
public:
    ListCommand() : ArchiveCommand(true, true) {}

private:
    int RunOn(const InspectedArchive& archive, EntrySelector& selector, std::ostream& out,
              std::ostream& err) override;
    int RunOnMerged(const MergedView& view, EntrySelector& selector, std::ostream& out, std::ostream& err) override;

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
