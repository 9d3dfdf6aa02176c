#pragma once

#include <cstddef>
#include <cstdint>
#include <ostream>
#include <string>

#include "inspect/entry_selector.h"
#include "inspect/inspected_archive.h"
#include "inspect/output_tree.h"

namespace zelkor {

class ProgressLine;

// The `extract` command: writes every selected entry below an output tree at its archived
// name (see ExtractPath), or at "<name hash in hex>.bin" when the names are
// unknown. Only content that decodes and matches its hash, under a name that
// hashes to the entry's name hash, is ever written, and every file appears only
// complete (see OutputTree).
//
// A file that already holds exactly the entry's content is left alone without a
// word. An entry is refused, with one line on the message stream, when its name
// is unsafe or is not the name its name hash was made from, its content is bad,
// something is in the way (a file with other content without `force`, a link or
// a file where a directory is needed, a directory where the file goes), or the
// system refuses the write. A later entry at the place of an earlier one of the
// same run is refused without `force` (with it, the later entry wins); when its
// content is the same as the earlier one's it is skipped instead, since nothing
// is lost.
//
// The entries are walked, not held; what grows with them is the set of places
// this run has written (for the duplicates) and the directories it made.
class ArchiveExtractor {
public:
    struct Summary {
        std::uint64_t selected = 0;
        std::size_t written = 0;
        std::size_t unchanged = 0;  // already there with the same content
        std::size_t skipped = 0;    // duplicates of the same content
        std::size_t refused = 0;
    };

    // With `progress`, every entry walked advances it.
    static Summary Extract(const InspectedArchive& archive, EntrySelector& selector, OutputTree& tree,
                           bool force, std::ostream& messages, ProgressLine* progress = nullptr);

    // "extracted N of M entries to DIR" with the unchanged, skipped and refused
    // counts.
    static void PrintSummary(const InspectedArchive& archive, const EntrySelector& selector,
                             const Summary& summary, const std::string& directory, std::ostream& out);
};

}  // namespace zelkor
