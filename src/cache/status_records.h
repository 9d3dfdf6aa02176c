#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>

#include "cache/cache_directory.h"
#include "cache/cache_key.h"
#include "cache/record_table.h"
#include "cache/recorded_status.h"
#include "platform/directory.h"

namespace zelkor {

// The status of each source the cache has seen (identity, size, modification
// and change times), with the content key and hash its bytes had then, so that
// a later run that finds the status unchanged need not read and hash the source
// again. README.md, "Compression cache", says what is trusted and when.
//
// A source is recorded only when its status was the same before and after it
// was read, its size was the number of bytes read, and its last change lay at
// least `settle` before the moment of recording: a file changed more recently
// could change again within the same tick of the file system's clock without
// its times moving. A record is trusted only when every field of the status
// equals the source's now (a file replaced by another, by rename or on a file
// system whose inode numbers are not stable, has another identity).
//
// The records live in the local cache directory only: inode numbers mean
// nothing on another machine. Sources are named by absolute path.
//
// Besides, the table knows which sources this run found settled and unchanged
// while it read them (or trusted them), by status: what a build may be recorded
// by (BuildRecords).
//
// Thread-safe.
class StatusRecords {
public:
    static constexpr const char* FileName = CacheDirectory::SourcesName;
    static constexpr std::uint32_t Magic = 0x53534B5A;  // "ZKSS"
    static constexpr std::int64_t DefaultSettle = 2'000'000'000;

    struct Options {
        std::size_t limit = RecordTable::LimitFor(std::uint64_t{5} << 30);
        std::int64_t settle = DefaultSettle;
        // False: no record is trusted (every source is read and hashed), and
        // records are still written.
        bool trust = true;
    };

    struct Record {
        static constexpr std::size_t Size = RecordedStatus::Size + 32 + 4;

        RecordedStatus status;
        CacheKey key;
        std::uint32_t contentHash = 0;
    };

    StatusRecords(const Directory& directory, Options options, std::int64_t now);

    // The name a source at `path` is recorded by: its absolute path.
    static std::optional<std::string> NameOf(const std::string& path);

    // The record of `name` when it may be trusted for a source whose status is
    // `status` now; the source then counts as found unchanged.
    std::optional<Record> Trusted(const std::string& name, const FileStatus& status);

    // The source `name` was read: its status was `before` when it was opened
    // and `after` once it had been read, `contentSize` bytes with key `key`
    // (none when the cache took none) and content hash `contentHash`. Recorded
    // when that is safe (see above).
    void Read(const std::string& name, const FileStatus& before, const FileStatus& after, std::uint64_t contentSize,
              const CacheKey* key, std::uint32_t contentHash);

    // The status by which `name` was found settled and unchanged in this run.
    std::optional<RecordedStatus> Confirmed(const std::string& name) const;

    bool Trusting() const { return options_.trust; }

    // Writes the records back when this run changed them.
    bool Flush() { return table_.Flush(); }

    std::size_t Size() const { return table_.Size(); }

    static std::vector<std::uint8_t> Encode(const Record& record);
    static std::optional<Record> Decode(std::span<const std::uint8_t> payload);

private:
    void Confirm(const std::string& name, const RecordedStatus& status);

    Options options_;
    RecordTable table_;
    mutable std::mutex mutex_;
    std::unordered_map<std::string, RecordedStatus> confirmed_;
};

}  // namespace zelkor
