#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <unordered_map>

#include "archive/archive_format.h"
#include "platform/file.h"
#include "records/build_records.h"
#include "records/status_records.h"

namespace zelkor {

// The last build of an archive, open for reading, so that a new build of the
// same archive with the same key material copies the entries of unchanged
// sources out of it instead of making them again: no reading of the source, no
// compression or decoding, no encryption. The new archive comes out byte for
// byte as a full build would write it, since every entry's cipher starts afresh
// and nothing in its stored bytes depends on where it lies.
//
// Opened only while the file at the archive's path is the one its build record
// says was written (identity, size, times, mount and file system, on a file
// system that keeps a true change time) and begins with the header the new
// build writes. An entry is offered for a source whose status now is the one
// its bytes were read at, with the same Store choice, while the proof of those
// bytes is fresh (StatusRecords::Fresh). Its range is checked as it is read:
// the FileEntry there must be the recorded one and its stored bytes must have
// the recorded digest; otherwise it is not copied, and the source is packed as
// usual.
//
// Thread-safe: any number of jobs find and read entries at once.
class PreviousBuild {
public:
    using Entry = BuildRecords::Record::Entry;

    // The build recorded as `record` at `archivePath`, when the file there is
    // the one recorded and begins with `header`; `sources` judges the age of
    // each entry's proof and must outlive the result. Nothing otherwise.
    static std::unique_ptr<PreviousBuild> Open(const std::string& archivePath, BuildRecords::Record record,
                                               const ArchiveHeader& header, const StatusRecords& sources);
    PreviousBuild(const PreviousBuild&) = delete;
    PreviousBuild& operator=(const PreviousBuild&) = delete;

    // The entry whose bytes were read from the source `name` (its absolute
    // path) when it had the status it has now, `status`, stored raw or not as
    // `storeRaw` says; nothing when there is none to copy.
    const Entry* Find(const std::string& name, const FileStatus& status, bool storeRaw) const;

    // The bytes an entry takes in the archive: its FileEntry and stored bytes.
    static std::size_t RangeSize(const Entry& entry) { return FileEntry::Size + entry.entry.storedSize; }

    // Reads the range of `entry` into `out` (RangeSize bytes); true when it
    // holds what the record says.
    bool Read(const Entry& entry, std::span<std::uint8_t> out) const;

private:
    PreviousBuild(File archive, BuildRecords::Record record, const StatusRecords& sources);

    struct DigestHash {
        std::size_t operator()(const BuildRecords::Digest& digest) const;
    };

    File archive_;
    const BuildRecords::Record record_;  // which bySource_ points into
    const StatusRecords& sources_;
    std::unordered_map<BuildRecords::Digest, const Entry*, DigestHash> bySource_;
};

}  // namespace zelkor
