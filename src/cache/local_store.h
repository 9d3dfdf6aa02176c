#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "store/cache_directory.h"
#include "store/cache_settings.h"
#include "store/cache_store.h"
#include "store/remote_counters.h"

namespace zelkor {

// The compression cache's entries in a directory, local or shared over NFS:
// DIR/XX/KEY, KEY the key's 64 hex digits and XX their first two, each bucket
// XX with the count of its bytes in XX/.size, and DIR/stats for the counters.
//
// Entries are written beside their names (under names nobody can guess) and
// renamed into place, so any number of threads, processes and machines fill one
// cache at once without locks; a reader finds a whole entry or none. Only the
// small counter files are updated under a lock, once per run (Flush), and
// nobody waits for one longer than the lock wait: then the counters of that run
// are left out. A use of an entry is recorded in its modification time, at
// most once an hour, which the eviction goes by.
//
// Thread-safe as CacheStore says.
class LocalStore final : public CacheStore {
public:
    static constexpr std::chrono::milliseconds DefaultLockWait{2000};

    struct Options {
        std::uint64_t capacity = CacheSettings::DefaultCapacity;
        std::chrono::milliseconds lockWait = DefaultLockWait;
    };

    // The store in `directory`, made when missing; nothing when it is no cache
    // (CacheDirectory says what counts as one) or cannot be used.
    static std::unique_ptr<LocalStore> Open(const std::string& directory, Options options);
    static std::unique_ptr<LocalStore> Open(const CacheSettings& settings);

    Got Get(const CacheKey& key, std::uint64_t maxSize, const Buffer& buffer) override;
    bool Put(const CacheKey& key, std::span<const std::uint8_t> header, std::span<const std::uint8_t> block) override;
    void Remove(const CacheKey& key) override;
    bool Flush(const CacheCounters& counters) override;
    std::optional<CacheProblem> Unusable() const override;
    CacheProblem Damaged(const CacheKey& key) const override;

    // The cache directory itself, for the records kept beside the entries.
    const Directory& Root() const { return directory_->Root(); }

    // Replaces the record of the last run with a remote cache (DIR/remote) by
    // this run's: the remote's URL as shown and its counters. A record that
    // cannot be written is left out; it is statistics.
    void RecordRemote(const std::string& url, const RemoteCounters& counters);

    // --- For zelkor-inspect ---------------------------------------------------------

    struct Statistics {
        std::uint64_t entries = 0;
        std::uint64_t bytes = 0;
        CacheCounters counters;  // since they were last reset
        // The last run with a remote cache, when one has recorded itself here.
        std::optional<RemoteCounters::Record> remote;
    };
    // Counts the entries and bytes of the cache in `directory` (a full scan)
    // and reads its counters; nothing is written. Nothing when it is no cache.
    static std::optional<Statistics> Inspect(const std::string& directory);

    // Sets the counters back to zero; with `entries`, removes every entry too.
    // Only in a directory tagged as a cache: anything else is left untouched.
    enum class Reset { Done, NotACache, Failed };
    static Reset Clear(const std::string& directory, bool entries, std::chrono::milliseconds lockWait);

private:
    LocalStore(std::unique_ptr<CacheDirectory> directory, Options options);

    // Adds what this run put in bucket `index` to its size, and evicts there.
    CacheDirectory::Update Account(unsigned index);

    std::unique_ptr<CacheDirectory> directory_;
    Options options_;
    // Bytes and entries put in each bucket since the last Flush.
    std::array<std::atomic<std::uint64_t>, eviction::BucketCount> pendingBytes_{};
    std::array<std::atomic<std::uint64_t>, eviction::BucketCount> pendingEntries_{};
};

}  // namespace zelkor
