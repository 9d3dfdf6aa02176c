#include "platform/output_guard.h"

#include <cerrno>
#include <random>

#include "platform/file_system.h"
#include "platform/hex.h"

namespace zelkor {

namespace {

// Links followed before giving up, as the system does (a loop never ends otherwise).
constexpr int MaxLinks = 40;

// The directory part of `path` with its trailing slash ("" for a bare name).
std::string DirectoryOf(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string NameOf(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The file that writing to `path` would reach: links are followed to their end,
// even to a file that does not exist yet.
std::string ResolveLinks(std::string path)
{
    for (int i = 0; i < MaxLinks; ++i) {
        const std::optional<FileStatus> status = StatusOf(path, FollowLinks::No);
        if (!status || !status->IsLink())
            return path;
        const std::optional<std::string> next = ReadLink(path);
        if (!next)
            return path;
        path = next->front() == '/' ? *next : DirectoryOf(path) + *next;
    }
    return path;
}

}  // namespace

std::string OutputGuard::RandomSuffix()
{
    static constexpr char letters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    thread_local std::mt19937_64 generator{std::random_device{}()};
    std::string suffix(6, ' ');
    for (char& c : suffix)
        c = letters[generator() % (sizeof letters - 1)];
    return suffix;
}

namespace {

// FNV-1a: a short, stable stand-in for the part of a long name that is cut.
std::uint32_t ShortHash(std::string_view name)
{
    std::uint32_t hash = 2166136261u;
    for (const char c : name)
        hash = (hash ^ static_cast<unsigned char>(c)) * 16777619u;
    return hash;
}

}  // namespace

OutputGuard::OutputGuard(std::string target, Options options) : target_(std::move(target)), options_(options)
{
}

OutputGuard::~OutputGuard()
{
    Discard();
}

std::string OutputGuard::HiddenName(std::string_view name, std::string_view suffix)
{
    constexpr std::string_view Marker = ".zelkor-";
    std::string hidden;
    hidden.reserve(MaxEntryNameLength);
    hidden += '.';
    if (1 + name.size() + Marker.size() + suffix.size() <= MaxEntryNameLength) {
        hidden += name;
    } else {
        // Room for the dot, "~", eight hex digits, the marker and the suffix.
        hidden += name.substr(0, MaxEntryNameLength - 10 - Marker.size() - suffix.size());
        hidden += '~';
        hidden += Hex32(ShortHash(name));
    }
    hidden += Marker;
    hidden += suffix;
    return hidden;
}

bool OutputGuard::Open()
{
    Discard();
    held_ = false;
    synced_ = false;
    replaced_.reset();
    if (target_.find('\0') != std::string::npos) {
        errno = EINVAL;
        return false;
    }
    resolved_ = ResolveLinks(target_);
    const std::string directory = DirectoryOf(resolved_);
    const std::string name = NameOf(resolved_);
    if (name.empty() || name == "." || name == "..") {
        errno = EISDIR;
        return false;
    }

    // What is there already must be a file this process could write, as writing
    // it in place would need; its attributes go to the new file.
    const std::optional<FileStatus> existing = StatusOf(resolved_);
    if (!existing && errno != ENOENT)
        return false;
    if (existing) {
        if (!existing->IsRegular()) {
            errno = existing->IsDirectory() ? EISDIR : EINVAL;
            return false;
        }
        const File probe = File::Open(resolved_, OpenFlags::Write | OpenFlags::NonBlocking);
        if (!probe.IsOpen())
            return false;
        replaced_ = probe.Status();
    }
    if (options_.lock && !Lock(directory, name))
        return false;

    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string candidate = directory + HiddenName(name, RandomSuffix());
        // Covered before it exists, so that no signal can leave it behind.
        SignalCleanup::Registration cleanup(candidate);
        File file = File::Open(candidate, OpenFlags::Write | OpenFlags::Create | OpenFlags::Exclusive |
                                              OpenFlags::NoFollow);
        if (file.IsOpen()) {
            if (existing)
                file.TakeAttributesOf(*existing);
            file_ = std::move(file);
            temporary_ = std::move(candidate);
            temporaryCleanup_ = std::move(cleanup);
            return true;
        }
        if (errno != EEXIST)
            break;
    }
    const int error = errno;
    Unlock();
    errno = error;
    return false;
}

bool OutputGuard::Lock(const std::string& directory, const std::string& name)
{
    const std::string path = directory + HiddenName(name, "lock");
    for (int attempt = 0; attempt < 100; ++attempt) {
        File lock = File::Open(path, OpenFlags::ReadWrite | OpenFlags::Create | OpenFlags::NoFollow |
                                         OpenFlags::NonBlocking);
        if (!lock.IsOpen())
            return false;
        if (!lock.Lock(false)) {
            held_ = errno == EWOULDBLOCK;
            return false;
        }
        // The holder before us may have removed the file between our open and our
        // lock; then the lock is on a file nobody else will find, and we go again.
        const std::optional<FileStatus> status = lock.Status();
        const std::optional<FileStatus> named = StatusOf(path);
        if (status && named && status->SameFileAs(*named)) {
            lockCleanup_ = SignalCleanup::Registration(path);
            lock_ = std::move(lock);
            lockPath_ = path;
            return true;
        }
    }
    errno = EAGAIN;
    return false;
}

void OutputGuard::Unlock()
{
    if (!lock_.IsOpen())
        return;
    // Removed while still held, so that nobody takes a lock on it meanwhile.
    RemoveFile(lockPath_);
    lockCleanup_.Release();
    lock_.Close();
    lockPath_.clear();
}

bool OutputGuard::Sync()
{
    if (temporary_.empty())
        return false;
    if (!options_.sync || synced_)
        return true;
    synced_ = file_.Sync();
    return synced_;
}

bool OutputGuard::Commit()
{
    if (temporary_.empty())
        return false;
    if (!Sync() || !file_.Close() || !RenameFile(temporary_, resolved_)) {
        const int error = errno;
        Discard();
        errno = error;
        return false;
    }
    temporary_.clear();
    temporaryCleanup_.Release();
    if (options_.sync) {
        const std::string directory = DirectoryOf(resolved_);
        const File parent = File::Open(directory.empty() ? "." : directory, OpenFlags::Read | OpenFlags::Directory);
        if (parent.IsOpen())
            parent.Sync();
    }
    Unlock();
    return true;
}

void OutputGuard::Discard()
{
    file_.Close();
    if (!temporary_.empty()) {
        RemoveFile(temporary_);
        temporary_.clear();
    }
    temporaryCleanup_.Release();
    Unlock();
}

}  // namespace zelkor
