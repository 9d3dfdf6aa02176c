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
#include <string_view>
#include <vector>

#include "output/signal_cleanup.h"
#include "platform/directory.h"
#include "store/eviction_policy.h"

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
// The cache holds the sources' content unencrypted, so it is its owner's alone:
// what the tool makes of it is made with permissions 0700 (directories) and
// 0600 (files). Only a cache directory made group-shared on purpose (its
// set-group-ID bit set) is shared: what is made in it then follows its own
// permission bits, whatever the process's mask (buckets keep the set-group-ID
// bit and so the directory's group, files get the directory's read and write
// bits). The record files stay the user's own either way (RecordFile).
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

    // The permissions of what the cache makes, as said above; `exact`: they
    // are set after each file or directory is made, so that the process's
    // mask takes nothing from a group-shared cache.
    struct Permissions {
        unsigned directories = 0700;
        unsigned files = 0600;
        bool exact = false;
    };
    // The permissions for a cache in a directory of `permissions` bits.
    static Permissions PermissionsFor(unsigned permissions);
    const Permissions& Made() const { return made_; }

    // A new file for writing in `directory` (the root or a bucket), as
    // Directory::CreateUnique makes it, with the cache's permissions.
    File CreateUnique(const Directory& directory, std::string_view prefix, std::string& name,
                      SignalCleanup::Registration& cleanup) const;

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
    // back, all under the file's lock, waited for at most `wait`. A file made
    // for it gets `permissions`.
    enum class Update { Done, Busy, Failed };
    static Update UpdateCounters(const Directory& directory, const std::string& name, std::size_t size,
                                 std::chrono::milliseconds wait, const std::function<void(std::span<std::uint8_t>)>& change,
                                 const Permissions& permissions);
    // The same bytes read without the lock.
    static std::vector<std::uint8_t> ReadCounters(const Directory& directory, const std::string& name, std::size_t size);

private:
    CacheDirectory(Directory root, Permissions made) : root_(std::move(root)), made_(made) {}

    // Whether it holds the tag; whether it holds only what a cache holds.
    static bool Tagged(const Directory& root);
    static bool LooksLikeACache(const Directory& root);
    bool WriteTag() const;
    bool Writable() const;

    Directory root_;
    Permissions made_;
    std::mutex mutex_;
    std::array<std::unique_ptr<Directory>, eviction::BucketCount> owned_;
    std::array<std::atomic<const Directory*>, eviction::BucketCount> buckets_{};
};

}  // namespace zelkor
