#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "cache/eviction_policy.h"
#include "platform/directory.h"

namespace zelkor {

// The directory of a local compression cache, and the only way into it: the
// cache directory is opened once, and everything in it is reached by names
// relative to it, with no link below it ever followed (a bucket that is a link
// is not used, and nothing is created or deleted through it).
//
// A cache is recognised by its CACHEDIR.TAG (the Cache Directory Tagging
// convention's, which backup tools honour too). A directory without one is
// taken for a cache, and tagged, only when it is empty or holds nothing but what
// a cache holds (an earlier version wrote no tag); anything else is no cache.
//
// Buckets are opened on demand and kept open; safe on several threads at once.
class CacheDirectory {
public:
    static constexpr const char* TagName = "CACHEDIR.TAG";
    static constexpr const char* StatsName = "stats";
    static constexpr const char* RemoteName = "remote";
    static constexpr const char* SizeName = ".size";
    // The records kept beside the entries (StatusRecords, BuildRecords).
    static constexpr const char* SourcesName = "sources";
    static constexpr const char* BuildsName = "builds";

    enum class Mode {
        Use,     // made when missing, tagged when it is one, proven writable
        Read,    // only read: a tagged directory, or one that looks like a cache
        Manage,  // to be cleared: only a tagged directory
    };
    // Nothing when `path` is no cache (for the mode) or cannot be used.
    static std::unique_ptr<CacheDirectory> Open(const std::string& path, Mode mode);

    CacheDirectory(const CacheDirectory&) = delete;
    CacheDirectory& operator=(const CacheDirectory&) = delete;

    const Directory& Root() const { return root_; }
    const std::string& Path() const { return root_.Path(); }

    // Bucket `index` (0 to 255), made first with `make`; null when it is missing
    // or is not a directory of its own (a link).
    const Directory* Bucket(unsigned index, bool make);

    // The entries of a bucket (regular files named as entries), for the eviction;
    // nothing when it cannot be listed.
    static std::optional<std::vector<eviction::StoredEntry>> Entries(const Directory& bucket);
    // Whether `name` is an entry's: a key's 64 lower-case hex digits.
    static bool IsEntryName(const std::string& name);

    // Reads the counter file `name` of `directory` (its first `size` bytes,
    // zeros where it holds fewer), lets `change` rewrite them, and writes them
    // back, all under the file's lock, waited for at most `wait`.
    enum class Update { Done, Busy, Failed };
    static Update UpdateCounters(const Directory& directory, const std::string& name, std::size_t size,
                                 std::chrono::milliseconds wait, const std::function<void(std::span<std::uint8_t>)>& change);
    // The same bytes read without the lock.
    static std::vector<std::uint8_t> ReadCounters(const Directory& directory, const std::string& name, std::size_t size);

private:
    explicit CacheDirectory(Directory root) : root_(std::move(root)) {}

    // Whether it holds the tag; whether it holds only what a cache holds.
    static bool Tagged(const Directory& root);
    static bool LooksLikeACache(const Directory& root);
    static bool WriteTag(const Directory& root);
    static bool Writable(const Directory& root);

    Directory root_;
    std::mutex mutex_;
    std::array<std::unique_ptr<Directory>, eviction::BucketCount> owned_;
    std::array<std::atomic<const Directory*>, eviction::BucketCount> buckets_{};
};

}  // namespace zelkor
