#pragma once

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "inspect/inspect_command.h"
#include "inspect/inspected_archive.h"
#include "inspect/key_file_options.h"

namespace zelkor {

// `diff OLD NEW [--key FILE | --no-key] [--new-key FILE | --new-no-key] [--json]`:
// exit status 1 when the archives differ.
//
// What changed between two builds of an archive, entries
// matched by name (by name hash when either side has no key file), changed when
// their content hash or sizes differ, moved when outside the longest run that
// keeps its order (the rules are in docs/inspect.md, "What diff prints"). Unlike the
// other commands, it holds every record and name of both archives. Used by one
// thread.
class DiffCommand : public InspectCommand {
public:
    void AddOptions(CommandOptions::Verb& command) override;
    int Run(std::ostream& out, std::ostream& err) override;
    std::optional<JsonDocument::Value> FailureMembers() const override;

private:
    std::string older_;
    std::string newer_;
    KeyFileOptions olderKey_;
    KeyFileOptions newerKey_;
    bool json_ = false;

public:
    enum class Change { Added, Removed, Changed, Moved };

    struct Difference {
        Change change = Change::Changed;
        bool moved = false;                          // also for Changed
        std::optional<ArchiveReader::Entry> older;   // none when Added
        std::optional<ArchiveReader::Entry> newer;   // none when Removed
    };

    struct Report {
        bool byName = true;           // false: matched by name hash
        bool sameKeyMaterial = true;  // the same key and IV encrypt both
        std::vector<Difference> differences;  // the removed in the old order, then the rest in the new
        std::uint64_t added = 0;
        std::uint64_t removed = 0;
        std::uint64_t changed = 0;
        std::uint64_t moved = 0;
        std::uint64_t unchanged = 0;  // matched, the same, in order
        std::uint64_t deltaBytes = 0;  // stored bytes of the added and changed entries

        // The same entries with the same contents in the same order.
        bool Same() const { return differences.empty(); }
    };

    static Report Compare(const InspectedArchive& older, const InspectedArchive& newer);

    // One line per difference and a summary line.
    static void PrintText(const InspectedArchive& older, const InspectedArchive& newer, const Report& report,
                          std::ostream& out);

    // {"old": {"archive", "keyFile"}, "new": {...}, "matchedBy": "name" or
    // "nameHash", "sameKeyMaterial", "same", "differences": [{"change",
    // "moved", "old": {identity..., sizes, "contentHash"} or null, "new":
    // ...}], "totals": {"added", "removed", "changed", "moved", "unchanged",
    // "deltaBytes"}}.
    static void PrintJson(const InspectedArchive& older, const InspectedArchive& newer, const Report& report,
                          std::ostream& out);
};

}  // namespace zelkor
