#include "store/cache_directory.h"

#include <algorithm>
#include <string_view>

#include "platform/file_system.h"
#include "platform/hex.h"

namespace zelkor {

namespace {

// The convention's signature starts the tag; backup tools look for it.
constexpr std::string_view TagSignature = "Signature: 8a477f597d28d172789f06886806bc55";
constexpr std::string_view TagText =
    "Signature: 8a477f597d28d172789f06886806bc55\n"
    "# This file is a cache directory tag created by zelkor (its compression cache).\n"
    "# For information about cache directory tags, see https://bford.info/cachedir/\n";

bool IsLowerHex(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
}

std::string BucketName(unsigned index)
{
    std::string name;
    AppendHexByte(name, static_cast<unsigned char>(index));
    return name;
}

}  // namespace

CacheDirectory::Permissions CacheDirectory::PermissionsFor(unsigned permissions)
{
    constexpr unsigned SetGroupId = 02000;
    if ((permissions & SetGroupId) == 0)
        return {};
    // Shared on purpose: the group's and others' bits as the directory has
    // them, never the sticky bit, which would keep one user from evicting
    // another's entries.
    return {permissions & 02777, permissions & 0666, true};
}

File CacheDirectory::CreateUnique(const Directory& directory, std::string_view prefix, std::string& name,
                                  SignalCleanup::Registration& cleanup) const
{
    File file = directory.CreateUnique(
        prefix, name, [&](const std::string& path) { cleanup = SignalCleanup::Registration(path); }, made_.files);
    if (file.IsOpen() && made_.exact) {
        if (std::optional<FileStatus> status = file.Status()) {
            status->permissions = made_.files;
            file.TakeAttributesOf(*status);
        }
    }
    return file;
}

std::unique_ptr<CacheDirectory> CacheDirectory::Open(const std::string& path, Mode mode)
{
    if (mode == Mode::Use && !Directory::Create(path, Permissions().directories))
        return nullptr;
    std::optional<Directory> root = Directory::Open(path);
    if (!root)
        return nullptr;
    const std::optional<FileStatus> status = root->Status();
    const bool tagged = Tagged(*root);
    std::unique_ptr<CacheDirectory> cache(
        new CacheDirectory(std::move(*root), PermissionsFor(status ? status->permissions : 0)));
    switch (mode) {
    case Mode::Use:
        if (!tagged && !(LooksLikeACache(cache->root_) && cache->WriteTag()))
            return nullptr;
        // Proven by writing: a directory that exists but takes no files is no cache.
        if (!cache->Writable())
            return nullptr;
        break;
    case Mode::Read:
        if (!tagged && !LooksLikeACache(cache->root_))
            return nullptr;
        break;
    case Mode::Manage:
        if (!tagged)
            return nullptr;
        break;
    }
    return cache;
}

bool CacheDirectory::Tagged(const Directory& root)
{
    File tag = root.OpenForReading(TagName);
    char start[TagSignature.size()];
    return tag.IsOpen() && tag.ReadAt(0, start, sizeof start) == std::optional<std::size_t>(sizeof start) &&
           std::string_view(start, sizeof start) == TagSignature;
}

bool CacheDirectory::LooksLikeACache(const Directory& root)
{
    const std::optional<std::vector<Directory::Entry>> entries = root.List();
    if (!entries)
        return false;
    return std::all_of(entries->begin(), entries->end(), [](const Directory::Entry& entry) {
        const std::string& name = entry.name;
        if (name.size() == 2 && IsLowerHex(name[0]) && IsLowerHex(name[1]))
            return entry.status.IsDirectory();
        if (name == StatsName || name == RemoteName || name == SourcesName || name == BuildsName)
            return entry.status.IsRegular();
        // A temporary file or probe that an interrupted run left behind.
        return name[0] == '.' && name.find(".zelkor-") != std::string::npos && entry.status.IsRegular();
    });
}

bool CacheDirectory::WriteTag() const
{
    std::string name;
    SignalCleanup::Registration cleanup;
    File file = CreateUnique(root_, ".CACHEDIR.TAG.zelkor-", name, cleanup);
    const bool written = file.IsOpen() && file.WriteAll(TagText.data(), TagText.size()) && file.Close() &&
                         root_.Rename(name, TagName);
    if (!written && !name.empty())
        root_.Remove(name);
    return written;
}

bool CacheDirectory::Writable() const
{
    std::string name;
    SignalCleanup::Registration cleanup;
    File probe = root_.CreateUnique(
        ".probe.zelkor-", name, [&](const std::string& path) { cleanup = SignalCleanup::Registration(path); },
        made_.files);
    if (!probe.IsOpen())
        return false;
    probe.Close();
    return root_.Remove(name);
}

const Directory* CacheDirectory::Bucket(unsigned index, bool make)
{
    if (const Directory* bucket = buckets_[index].load(std::memory_order_acquire))
        return bucket;
    const std::lock_guard<std::mutex> lock(mutex_);
    if (const Directory* bucket = buckets_[index].load(std::memory_order_relaxed))
        return bucket;
    const std::string name = BucketName(index);
    if (make && !root_.MakeDirectory(name, made_.directories))
        return nullptr;
    std::optional<Directory> bucket = root_.Enter(name);
    if (!bucket)
        return nullptr;
    // A bucket of this user's in a shared cache: its bits as the cache's own,
    // whatever the mask took when it was made.
    if (made_.exact) {
        const std::optional<FileStatus> status = bucket->Status();
        if (status && status->owner == EffectiveUser() && status->permissions != made_.directories)
            bucket->SetPermissions(made_.directories);
    }
    owned_[index] = std::make_unique<Directory>(std::move(*bucket));
    buckets_[index].store(owned_[index].get(), std::memory_order_release);
    return owned_[index].get();
}

bool CacheDirectory::IsEntryName(const std::string& name)
{
    return name.size() == 64 && std::all_of(name.begin(), name.end(), IsLowerHex);
}

std::optional<std::vector<eviction::StoredEntry>> CacheDirectory::Entries(const Directory& bucket)
{
    std::optional<std::vector<Directory::Entry>> listed = bucket.List();
    if (!listed)
        return std::nullopt;
    std::vector<eviction::StoredEntry> entries;
    for (Directory::Entry& entry : *listed) {
        if (IsEntryName(entry.name) && entry.status.IsRegular())
            entries.push_back({std::move(entry.name), entry.status.size, entry.status.modifiedNanoseconds});
    }
    return entries;
}

CacheDirectory::Update CacheDirectory::UpdateCounters(const Directory& directory, const std::string& name,
                                                      std::size_t size, std::chrono::milliseconds wait,
                                                      const std::function<void(std::span<std::uint8_t>)>& change,
                                                      const Permissions& permissions)
{
    File file = directory.OpenForUpdate(name, permissions.files);
    if (!file.IsOpen())
        return Update::Failed;
    if (permissions.exact) {
        const std::optional<FileStatus> status = file.Status();
        if (status && status->owner == EffectiveUser() && status->permissions != permissions.files) {
            FileStatus wanted = *status;
            wanted.permissions = permissions.files;
            file.TakeAttributesOf(wanted);
        }
    }
    // Someone holding the lock for long is waited for only so long: then the
    // counters are left as they are (they are statistics), and nobody hangs.
    switch (file.LockWithin(wait)) {
    case File::Locking::Locked: break;
    case File::Locking::Busy: return Update::Busy;
    case File::Locking::Failed: return Update::Failed;
    }
    std::vector<std::uint8_t> bytes(size, 0);
    if (!file.ReadAt(0, bytes.data(), size))
        return Update::Failed;
    change(bytes);
    // The position is still at the start: ReadAt does not move it.
    return file.WriteAll(bytes.data(), bytes.size()) && file.Close() ? Update::Done : Update::Failed;
}

std::vector<std::uint8_t> CacheDirectory::ReadCounters(const Directory& directory, const std::string& name,
                                                       std::size_t size)
{
    std::vector<std::uint8_t> bytes(size, 0);
    File file = directory.OpenForReading(name);
    if (file.IsOpen() && !file.ReadAt(0, bytes.data(), size))
        std::fill(bytes.begin(), bytes.end(), 0);
    return bytes;
}

}  // namespace zelkor
