#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "platform/directory.h"
#include "records/record_table.h"
#include "records/recorded_status.h"
#include "store/cache_directory.h"
#include "store/cache_key.h"

namespace zelkor {

// The status of each source the cache has seen (identity, size, modification
// and change times, mount and file system), with the content key and hash its
// bytes had then and when they were last read and hashed, so that a later run
// that finds the status unchanged need not read and hash the source again.
// docs/cache.md, "Sources trusted by their status", says what is trusted and when.
//
// A source is recorded only when it lies on a file system known to keep a true
// change time (FileStatus::keepsChangeTime), its status was the same before and
// after it was read, its size was the number of bytes read, and its last change
// lay at least `settle` before it was opened: a file changed more recently
// could change again within the same tick of the file system's clock without
// its times moving. A record is trusted only when every field of the status
// equals the source's now (a file replaced by another, by rename, on another
// mount or on a file system whose inode numbers are not stable, has another
// identity), and its bytes were proven by a read less than `trustFor` ago.
//
// The records live in the local cache directory only: inode numbers mean
// nothing on another machine. Sources are named by absolute path.
//
// Thread-safe.
class StatusRecords {
public:
    static constexpr const char* FileName = CacheDirectory::SourcesName;
    static constexpr std::uint32_t Magic = 0x53534B5A;  // "ZKSS"
    static constexpr std::int64_t DefaultSettle = 2'000'000'000;
    static constexpr std::int64_t DefaultTrustFor = std::int64_t{24} * 3600 * 1'000'000'000;

    struct Options {
        std::size_t limit = RecordTable::LimitFor(std::uint64_t{5} << 30);
        std::int64_t settle = DefaultSettle;
        // False: no record is trusted (every source is read and hashed), and
        // records are still written.
        bool trust = true;
        // How long after its bytes were last read and hashed a record is trusted.
        std::int64_t trustFor = DefaultTrustFor;
    };

    struct Record {
        static constexpr std::size_t Size = RecordedStatus::Size + 32 + 4 + 8;

        RecordedStatus status;
        CacheKey key;
        std::uint32_t contentHash = 0;
        // When the bytes were last read and hashed, in nanoseconds since the epoch.
        std::int64_t proven = 0;

        bool operator==(const Record& other) const = default;
    };

    // `now`: the run's time, by which the age of a proof is judged.
    StatusRecords(const Directory& directory, Options options, std::int64_t now);

    // The name a source at `path` is recorded by: its absolute path.
    static std::optional<std::string> NameOf(const std::string& path);

    // The record of `name` when it may be trusted for a source whose status is
    // `status` now. It counts as used only once Used says so.
    std::optional<Record> Trusted(const std::string& name, const FileStatus& status) const;
    // The record of `name` stood in for its source: its block was used, or a
    // build recorded with it was left in place.
    void Used(const std::string& name) { table_.Use(name); }

    // The source `name` was read: it was opened at `opened` (nanoseconds since
    // the epoch) with status `before`, and had `after` once it had been read,
    // `contentSize` bytes with key `key` (none when the cache took none) and
    // content hash `contentHash`. Recorded when that is safe (see above). When
    // the source was found settled and unchanged while it was read: the time its
    // bytes count as proven (`opened`, or an earlier proof of the same bytes
    // within the hour, so that a run that only confirms its records need not
    // rewrite them); nothing otherwise.
    std::optional<std::int64_t> Read(const std::string& name, const FileStatus& before, const FileStatus& after,
                                     std::int64_t opened, std::uint64_t contentSize, const CacheKey* key,
                                     std::uint32_t contentHash);

    // Whether bytes proven by a read at `proven` may still stand for their
    // source in this run.
    bool Fresh(std::int64_t proven) const;

    bool Trusting() const { return options_.trust; }
    // The run's time.
    std::int64_t Now() const { return now_; }

    // Writes the records back when this run changed them.
    bool Flush() { return table_.Flush(); }

    std::size_t Size() const { return table_.Size(); }

    static std::vector<std::uint8_t> Encode(const Record& record);
    static std::optional<Record> Decode(std::span<const std::uint8_t> payload);

private:
    Options options_;
    std::int64_t now_;
    RecordTable table_;
};

}  // namespace zelkor
