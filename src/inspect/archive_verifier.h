#pragma once

#include <cstddef>
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "inspect/inspected_archive.h"

namespace zelkor {

// The `verify` command. Opening the archive has already checked its structure
// (InspectedArchive throws on a malformed file); Verify then decrypts,
// decompresses and hashes every entry, checks each name hash against its name,
// and looks for entries that a lookup by name hash cannot tell apart.
class ArchiveVerifier {
public:
    struct BadEntry {
        std::size_t index = 0;
        std::vector<std::string> faults;  // one or more, as sentences without a full stop
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
        std::vector<std::size_t> entries;
    };

    struct Report {
        std::size_t entries = 0;
        std::vector<BadEntry> bad;             // in archive order
        std::vector<SharedNameHash> shared;    // ordered by their first entry
        // Every entry with content failed to decode, which points at the key file
        // choice rather than at damage.
        bool keyFileSuspect = false;

        bool Ok() const { return bad.empty(); }
    };

    static Report Verify(const InspectedArchive& archive);

    // One line per bad entry, one warning per shared name hash, the hint when the
    // key file is suspect, and a summary line.
    static void PrintText(const InspectedArchive& archive, const Report& report, std::ostream& out);

    // {"archive", "keyFile", "ok", "entries", "intact", "bad": [{identity...,
    // "faults": [...]}], "sharedNameHashes": [{"nameHash", "kind", "entries":
    // [{identity...}]}], "hint": text or null}. Kinds: "same-name",
    // "case-or-separators", "different-names", "names-unknown".
    static void PrintJson(const InspectedArchive& archive, const Report& report, std::ostream& out);

    static std::vector<SharedNameHash> FindSharedNameHashes(const InspectedArchive& archive);
};

}  // namespace zelkor
