#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <span>
#include <string>

namespace zelkor {

class WarningLog;

// A directory of stored forms of source contents, so that a rebuild compresses
// only what changed. Opt-in: ZELKOR_CACHE_DIR names the directory and
// ZELKOR_CACHE_SIZE caps it (default 5 GiB; suffixes K, M, G).
//
// An entry is keyed by a SHA-256 of the raw bytes together with their size, the
// LZ4 library's version and the compression level, so that another library never
// serves stale output. It holds the LZ4 block, or only the fact that compression
// did not make the bytes smaller, and a checksum of its own bytes.
//
// Layout: DIR/XX/KEY, KEY the key's 64 hex digits and XX their first two; each
// XX directory keeps the count of its bytes in XX/.size; DIR/stats counts hits,
// misses and bytes of compression saved. Entries are written beside their names
// and renamed into place, so any number of threads and processes (and machines
// sharing the directory) fill one cache at once; only the small counters are
// updated under a lock, once per run (Flush). A hit refreshes the entry's
// modification time; when a directory XX has grown past its share of the cap,
// its least recently used entries are removed until it is under 90% of that
// share, so no run ever scans the whole cache. An entry that is damaged,
// truncated or of another version is a miss and is removed.
//
// Any failure to create or write the directory disables the cache for the rest
// of the run with one warning "Cannot use cache DIR!"; the run goes on without
// it. Thread-safe.
class CompressionCache {
public:
    using Key = std::array<std::uint8_t, 32>;

    static constexpr std::uint64_t DefaultCapacity = std::uint64_t{5} << 30;

    struct Settings {
        std::string directory;
        std::uint64_t capacity = DefaultCapacity;
    };

    // The settings the environment asks for: nothing when ZELKOR_CACHE_DIR is
    // unset or empty. A ZELKOR_CACHE_SIZE that is not a size sets `badSize`
    // to its text, and the default cap is used.
    static std::optional<Settings> FromEnvironment(std::string& badSize);

    // "5G", "500M", "64K" or a number of bytes; nothing when not a size.
    static std::optional<std::uint64_t> ParseSize(const std::string& text);

    CompressionCache(Settings settings, WarningLog& warnings);
    ~CompressionCache();
    CompressionCache(const CompressionCache&) = delete;
    CompressionCache& operator=(const CompressionCache&) = delete;

    // Creates the directory if needed and proves it writable; false (with the
    // warning) when it is not, and the cache stays off.
    bool Open();
    bool Usable() const { return !disabled_.load(); }

    // The key of `raw`; computed together with the content hash (XXH32) in one
    // pass over the bytes, which it also returns.
    static Key KeyFor(std::span<const std::uint8_t> raw, std::uint32_t& contentHash);

    struct Found {
        bool compressed = false;
        std::size_t storedSize = 0;  // with compressed: the block's size
    };
    // Gives a buffer of at least the size asked for.
    using Buffer = std::function<std::span<std::uint8_t>(std::size_t size)>;
    // Looks `key` up for raw bytes of `rawSize`. On a hit with a compressed
    // block, the block is copied to the start of `buffer(storedSize)`.
    std::optional<Found> Find(const Key& key, std::uint64_t rawSize, const Buffer& buffer);

    // Records the stored form of raw bytes: `block` is the LZ4 block, or empty
    // when compression did not pay.
    void Store(const Key& key, std::uint64_t rawSize, std::span<const std::uint8_t> block);

    // Adds this process's hits, misses and saved bytes to the shared counters,
    // and the entries it wrote to the sizes of their directories, removing the
    // least recently used entries of a directory that has grown past its share.
    void Flush();

    // --- For zelkor-inspect ----------------------------------------------------------

    struct Statistics {
        std::uint64_t entries = 0;
        std::uint64_t bytes = 0;
        std::uint64_t hits = 0;
        std::uint64_t misses = 0;
        std::uint64_t savedBytes = 0;  // raw bytes whose compression a hit saved
    };
    // Counts the entries and bytes of `directory` (a full scan) and reads its
    // counters. Nothing when it is not a cache directory that can be read.
    static std::optional<Statistics> Inspect(const std::string& directory);
    // Sets the counters back to zero; with `entries`, removes every entry too.
    static bool Reset(const std::string& directory, bool entries);

private:
    std::string EntryPath(const Key& key) const;
    void Disable();
    void Account(int bucket);

    static constexpr int BucketCount = 256;

    Settings settings_;
    WarningLog& warnings_;
    std::atomic<bool> disabled_{false};
    std::once_flag warned_;
    std::atomic<std::uint64_t> hits_{0};
    std::atomic<std::uint64_t> misses_{0};
    std::atomic<std::uint64_t> savedBytes_{0};
    const std::string process_;  // this process's id, in temporary names
    std::atomic<std::uint64_t> temporaries_{0};
    std::array<std::atomic<bool>, BucketCount> bucketMade_{};
    // Bytes and entries written to each bucket since the last Flush.
    std::array<std::atomic<std::uint64_t>, BucketCount> pendingBytes_{};
    std::array<std::atomic<std::uint64_t>, BucketCount> pendingEntries_{};
};

}  // namespace zelkor
