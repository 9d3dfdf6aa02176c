#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <ostream>
#include <streambuf>
#include <string>
#include <vector>

#include "inspect/entry_selector.h"
#include "inspect/inspected_archive.h"
#include "runtime/progress_line.h"

namespace zelkor {

// The walk that verify and extract share: the selected entries in archive order;
// for an archive over 64 MiB, with standard error a terminal, a status line with
// the messages written above it; and the tally of the entries decoded, which
// tells when every failure points at the key file choice rather than at damage.
// Used by one thread; the archive and the selector outlive it.
class EntryWalk {
public:
    EntryWalk(const InspectedArchive& archive, EntrySelector& selector, std::ostream& err);
    ~EntryWalk();
    EntryWalk(const EntryWalk&) = delete;
    EntryWalk& operator=(const EntryWalk&) = delete;

    const InspectedArchive& Archive() const { return archive_; }
    EntrySelector& Selector() { return selector_; }

    // The next selected entry; false after the last.
    bool Next(ArchiveReader::Entry& entry);
    // How many entries Next has given.
    std::uint64_t Selected() const { return selected_; }

    // Reads the entry's content (see ArchiveReader::ReadContent), tallied for Hint.
    ArchiveReader::ContentStatus Decode(const ArchiveReader::Entry& entry, std::vector<std::uint8_t>& content);
    // When every entry with content that Decode read failed: what the key file
    // choice has to do with it (InspectedArchive::KeyFileHint), if anything.
    std::optional<std::string> Hint() const;

    // Where lines about single entries go: above the status line while it shows.
    std::ostream& Messages() { return messages_; }
    // Takes the status line away, before a report is printed below it.
    void Finish();

private:
    const InspectedArchive& archive_;
    EntrySelector& selector_;
    SetReader::Walk walk_;
    std::uint64_t selected_ = 0;
    std::uint64_t withContent_ = 0;
    std::uint64_t undecodable_ = 0;  // of those with content
    std::optional<ArchiveReader::Entry> failed_;  // the first of them
    std::unique_ptr<ProgressLine> progress_;
    std::unique_ptr<std::streambuf> above_;
    std::streambuf* plain_;
    std::ostream messages_;
};

}  // namespace zelkor
