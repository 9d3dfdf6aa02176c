#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <span>
#include <vector>

#include "records/build_records.h"
#include "records/status_records.h"
#include "store/cache_key.h"
#include "store/cache_problem.h"
#include "store/cache_settings.h"
#include "store/cache_store.h"

namespace zelkor {

class Lz4BlockReader;

// The compression cache as a pack command uses it: stored forms of raw bytes by
// their key (CacheKey), kept in a CacheStore, so that a rebuild compresses only
// what changed. docs/cache.md tells the whole behaviour.
//
// Honest on every hit: no block is handed out unless it has been decoded and
// its raw bytes shown to be the ones asked for. An entry that fails is damaged:
// it is removed, counted, and a miss; the first one of a run from each store is
// reported (CacheProblem::Kind::Damaged). A store that cannot be used turns the
// cache off for the rest of the run, reported once (Kind::Unusable); the run
// goes on without it.
//
// Thread-safe; Flush once at the end of the run.
class CompressionCache {
public:
    CompressionCache(std::unique_ptr<CacheStore> store, CacheProblemSink& problems);
    ~CompressionCache();
    CompressionCache(const CompressionCache&) = delete;
    CompressionCache& operator=(const CompressionCache&) = delete;

    // The cache the settings ask for: over its local directory, which is created
    // if need be, and a remote store in front of which it is layered (either
    // may be missing). Nothing when the settings turn no cache on, or (with the
    // problems reported) when neither can be used.
    static std::unique_ptr<CompressionCache> Open(const CacheSettings& settings, CacheProblemSink& problems);

    bool Usable() const { return !disabled_.load(); }

    enum class Outcome {
        Miss,
        Hit,
        // The entry is good, but the raw bytes given are no longer those its key
        // was computed from: the source changed while it was read.
        SourceChanged,
    };
    struct Hit {
        bool compressed = false;
        // With `compressed`, the LZ4 block, in the caller's buffer.
        std::span<std::uint8_t> block;
    };

    // Looks up `raw`, whose key is `key` (taken at `level`). A hit only when the
    // entry holds no block (compression did not pay) or its block decodes to
    // exactly `raw`; then, with `contentHash`, the content hash of the bytes
    // decoded goes there.
    Outcome Find(const CacheKey& key, std::span<const std::uint8_t> raw, const CacheStore::Buffer& buffer,
                 Lz4BlockReader& reader, Hit& hit, std::uint32_t* contentHash = nullptr,
                 int level = CompressionLevel);

    // For raw bytes of `rawSize` that were not read (their key known otherwise):
    // a hit with a block only when the block decodes to bytes whose key is
    // `key`; `contentHash`, when given, then gets their content hash. A hit
    // without a block leaves `contentHash` alone: the bytes must be read for
    // the archive anyway.
    Outcome FindUnread(const CacheKey& key, std::uint64_t rawSize, const CacheStore::Buffer& buffer,
                       Lz4BlockReader& reader, Hit& hit, std::uint32_t* contentHash);

    // Records the stored form of raw bytes of `rawSize` whose key is `key`:
    // `block` is their LZ4 block, or empty when compression did not pay. The
    // caller vouches that the block decodes to the bytes the key was made from.
    void Store(const CacheKey& key, std::uint64_t rawSize, std::span<const std::uint8_t> block);

    // An archive entry was copied from the last build of its archive instead
    // of being made (PreviousBuild): counted beside the hits.
    void Copied() { ++copied_; }

    // Hands the run's counts to the store, which accounts for what was stored and
    // evicts what the cap asks for.
    void Flush();

    // The counts of this run so far.
    CacheCounters Counted() const;

    // The records kept in a local directory beside the entries (StatusRecords
    // and BuildRecords), loaded now from `root`, which must outlive the cache;
    // Flush writes them back. Without a local directory there are none.
    // `settle`: how long before its recording a source must have last changed
    // (StatusRecords).
    void KeepRecords(const Directory& root, const CacheSettings& settings,
                     std::int64_t settle = StatusRecords::DefaultSettle);
    StatusRecords* Sources() { return sources_.get(); }
    BuildRecords* Builds() { return builds_.get(); }

private:
    // The entry under `key` (in `got`), checked as a whole; false for a miss
    // (counted).
    bool Get(const CacheKey& key, std::uint64_t rawSize, const CacheStore::Buffer& buffer, CacheStore::Got& got,
             std::span<std::uint8_t>& block);
    void Damaged(const CacheKey& key, const CacheStore::Got& got);
    void Disable();
    // A hit on the entry `got`, whose block is shown to be good.
    Outcome Hand(const CacheKey& key, const CacheStore::Got& got, std::uint64_t rawSize, std::span<std::uint8_t> block,
                 Hit& hit);

    std::unique_ptr<CacheStore> store_;
    CacheProblemSink& problems_;
    std::atomic<bool> disabled_{false};
    std::once_flag disabledWarned_;
    std::mutex damagedWarnedMutex_;
    std::vector<const CacheStore*> damagedWarned_;  // the stores named in a warning
    std::atomic<std::uint64_t> hits_{0};
    std::atomic<std::uint64_t> misses_{0};
    std::atomic<std::uint64_t> savedBytes_{0};
    std::atomic<std::uint64_t> damaged_{0};
    std::atomic<std::uint64_t> copied_{0};
    std::unique_ptr<StatusRecords> sources_;
    std::unique_ptr<BuildRecords> builds_;
};

}  // namespace zelkor
