#pragma once

#include <cstddef>
#include <cstdint>
#include <ostream>
#include <string>

#include "inspect/archive_command.h"
#include "inspect/entry_selector.h"
#include "inspect/entry_walk.h"
#include "inspect/inspected_archive.h"
#include "inspect/merged_view.h"
#include "inspect/output_tree.h"

namespace zelkor {

// `extract ARCHIVE [PATTERN...] [-o DIR] [--force]`: writes below DIR (default:
// the working directory); exit status 1 when an entry was not written.
//
// Writes every selected entry below an output tree at its
// archived name (ExtractPath), or at "<name hash in hex>.bin" without names. Only
// content that decodes and matches its hash, under a name that hashes to the
// entry's name hash, is written; every file appears only complete (OutputTree).
// An entry that is not written, and why, is one line on the walk's messages (the
// rules are in docs/inspect.md). What grows with the entries is the set of places this
// run has written and the directories it made. Used by one thread.
class ExtractCommand : public ArchiveCommand {
public:
    ExtractCommand() : ArchiveCommand(false, true) {}

    void AddOptions(CommandOptions::Verb& command) override;

private:
    int RunOn(const InspectedArchive& archive, EntrySelector& selector, std::ostream& out,
              std::ostream& err) override;
    int RunOnMerged(const MergedView& view, EntrySelector& selector, std::ostream& out, std::ostream& err) override;

    std::string directory_ = ".";
    bool force_ = false;

public:
    struct Summary {
        std::uint64_t selected = 0;
        std::size_t written = 0;
        std::size_t unchanged = 0;  // already there with the same content
        std::size_t skipped = 0;    // duplicates of the same content
        std::size_t refused = 0;
    };

    // Walks `walk` to its end; with `force`, replaces what is in the way, and a
    // later entry of the same name wins.
    static Summary Extract(EntryWalk& walk, OutputTree& tree, bool force);

    // "extracted N of M entries to DIR" with the unchanged, skipped and refused
    // counts.
    static void PrintSummary(const InspectedArchive& archive, const EntrySelector& selector,
                             const Summary& summary, const std::string& directory, std::ostream& out);

    // The same for the selected entries of a merged view, each from the
    // archive that wins it; lines about single entries go to `messages`. A
    // merged view has one entry per name, so none is skipped as a duplicate.
    static Summary ExtractMerged(const MergedView& view, EntrySelector& selector, OutputTree& tree, bool force,
                                 std::ostream& messages);
    static void PrintMergedSummary(const MergedView& view, const EntrySelector& selector, const Summary& summary,
                                   const std::string& directory, std::ostream& out);
};

}  // namespace zelkor
