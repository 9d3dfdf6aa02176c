#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "inspect/archive_command.h"
#include "inspect/entry_selector.h"
#include "inspect/entry_walk.h"
#include "inspect/inspected_archive.h"
#include "inspect/merged_view.h"

namespace zelkor {

// `verify ARCHIVE [PATTERN...] [--json]`: exit status 1 when an entry is bad.
//
// Decrypts, decompresses and hashes every selected entry,
// checks each name hash against its name, and finds the selected entries that a
// lookup by name hash cannot tell apart. Opening the archive has checked its
// structure already. The report keeps where each bad or shared entry lies (24
// bytes each) and reads it again to print it; the search for shared name hashes
// holds at most SharedNameHashes::Budget of them at a time. Used by one thread.
class VerifyCommand : public ArchiveCommand {
public:
    VerifyCommand() : ArchiveCommand(true, true) {}

private:
    int RunOn(const InspectedArchive& archive, EntrySelector& selector, std::ostream& out,
              std::ostream& err) override;
    int RunOnMerged(const MergedView& view, EntrySelector& selector, std::ostream& out, std::ostream& err) override;

public:
    using Position = ArchiveReader::Position;

    struct BadEntry {
        Position position;
        ArchiveReader::ContentStatus status = ArchiveReader::ContentStatus::Ok;
        bool nameMismatch = false;  // the name hash is not that of the name
    };

    enum class Sharing {
        SameName,          // the same name stored more than once
        CaseOrSeparators,  // names that differ only in letter case or \ against /
        DifferentNames,    // different names whose CRC-32 collide
        NamesUnknown,      // read without a key file: one of the above
    };

    // Entries, in archive order, whose name hashes are equal.
    struct SharedNameHash {
        std::uint32_t nameHash = 0;
        Sharing sharing = Sharing::SameName;
        std::vector<Position> entries;
    };

    struct Report {
        std::uint64_t entries = 0;
        std::vector<BadEntry> bad;             // in archive order
        std::vector<SharedNameHash> shared;    // ordered by their first entry
        // When the failures point at the key file choice rather than at damage,
        // what to do (see InspectedArchive::KeyFileHint).
        std::optional<std::string> hint;

        bool Ok() const { return bad.empty(); }
    };

    // What verifying a merged view found: the entries whose content does not
    // decode or match its hash, each with what its archive says of it.
    struct MergedReport {
        struct Bad {
            std::size_t source = 0;
            std::uint64_t index = 0;
            std::string name;
            FileEntry fields;
            ArchiveReader::ContentStatus status = ArchiveReader::ContentStatus::Ok;
        };
        std::uint64_t entries = 0;
        std::vector<Bad> bad;  // in the order of names

        bool Ok() const { return bad.empty(); }
    };

    // Walks `walk` to its end.
    static Report Verify(EntryWalk& walk);

    // One line per bad entry, one warning per shared name hash, the hint when the
    // key file is suspect, and a summary line.
    static void PrintText(const InspectedArchive& archive, const EntrySelector& selector, const Report& report,
                          std::ostream& out);

    // {"archive", "keyFile", "ok", "entries", "intact", "bad": [{identity...,
    // "faults": [...]}], "sharedNameHashes": [{"nameHash", "kind", "entries":
    // [{identity...}]}], "hint": text or null}. Kinds: "same-name",
    // "case-or-separators", "different-names", "names-unknown".
    static void PrintJson(const InspectedArchive& archive, const Report& report, std::ostream& out);

    // Decodes and hashes every selected entry of the merged view, each from
    // the archive that wins it. Its names are trusted ones: a name that does not
    // hash to its entry's name hash is not in the view.
    static MergedReport VerifyMerged(const MergedView& view, EntrySelector& selector);
    // One line per bad entry and a summary; the sources first.
    static void PrintMergedText(const MergedView& view, const EntrySelector& selector, const MergedReport& report,
                                std::ostream& out);
    // {"archives": [...], "ok", "entries", "intact", "bad": [{"archive",
    // "index", "name", ["nameHex"], "nameHash", "faults": [...]}]}
    static void PrintMergedJson(const MergedView& view, const MergedReport& report, std::ostream& out);

    // The groups of selected entries whose name hashes are equal.
    static std::vector<SharedNameHash> FindSharedNameHashes(const InspectedArchive& archive,
                                                            EntrySelector& selector);

private:
    // The faults of a bad entry, as sentences without a full stop.
    static std::vector<std::string> Faults(const InspectedArchive& archive, const BadEntry& bad,
                                           const ArchiveReader::Entry& entry);
};

}  // namespace zelkor
