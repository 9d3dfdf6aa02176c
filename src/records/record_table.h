#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "platform/directory.h"

namespace zelkor {

// Records by name, kept in one RecordFile of the local cache directory: loaded
// once when the table is made, and written back once (Flush) when the run
// changed something. Each record carries the time it was last used; a record
// unused for UnusedFor (one whose file no longer exists, say) is dropped when
// the file is written, and so are the least recently used ones beyond the
// file's bound.
//
// Runs that share the directory each write the file whole, over what another
// wrote meanwhile: records this run did not touch are taken from the file as
// it is then, so that concurrent runs lose little of each other's work (the
// last writer wins for a record both touched).
//
// Thread-safe.
class RecordTable {
public:
    static constexpr std::int64_t UnusedFor = std::int64_t{30} * 24 * 3600 * 1'000'000'000;
    // A use is written back when the last one lies this far back.
    static constexpr std::int64_t UseRecordedEvery = std::int64_t{3600} * 1'000'000'000;
    static constexpr std::size_t LongestName = 65535;

    // The bound of a record file in a cache of `capacity` bytes: a share of it,
    // at least 64 KiB and at most 16 MiB, which is read at the start of every run.
    static std::size_t LimitFor(std::uint64_t capacity);

    // The table of file `name` in `directory` (which must outlive it), of kind
    // `magic`, at most `limit` bytes; `now` the run's time.
    RecordTable(const Directory& directory, std::string name, std::uint32_t magic, std::size_t limit,
                std::int64_t now);
    RecordTable(const RecordTable&) = delete;
    RecordTable& operator=(const RecordTable&) = delete;

    // The payload recorded under `name`.
    std::optional<std::vector<std::uint8_t>> Find(const std::string& name) const;
    // Records `payload` under `name`, used now.
    void Put(const std::string& name, std::vector<std::uint8_t> payload);
    // Marks the record of `name` as used now.
    void Use(const std::string& name);

    // Writes the file when a record was put, or a use is due to be written.
    // False when it could not be written (the records are a help, not a
    // promise: nothing depends on them being there).
    bool Flush();

    std::size_t Size() const;

    // The file's body for `records`, and the records of a body (nothing when
    // it is not one).
    struct Record {
        std::vector<std::uint8_t> payload;
        std::int64_t used = 0;
    };
    using Records = std::unordered_map<std::string, Record>;
    static std::vector<std::uint8_t> EncodeBody(const Records& records);
    static std::optional<Records> DecodeBody(std::span<const std::uint8_t> body);

private:
    // Drops what is too old, then the least recently used beyond the bound.
    void Prune(Records& records) const;

    const Directory& directory_;
    const std::string name_;
    const std::uint32_t magic_;
    const std::size_t limit_;
    const std::int64_t now_;

    mutable std::mutex mutex_;
    Records records_;
    std::unordered_set<std::string> touched_;
};

}  // namespace zelkor
