#include "output/output_guard.h"

#include <cerrno>

#include "platform/file_system.h"
#include "platform/hex.h"
#include "platform/random_name.h"

namespace zelkor {

namespace {

// Links followed before giving up, as the system does (a loop never ends otherwise).
constexpr int MaxLinks = 40;

constexpr std::string_view CommitSuffix = "commit";

}  // namespace

std::optional<std::string> OutputGuard::Resolve(const std::string& target)
{
    if (target.find('\0') != std::string::npos) {
        errno = EINVAL;
        return std::nullopt;
    }
    std::string path = target;
    for (int i = 0; i < MaxLinks; ++i) {
        const std::optional<FileStatus> status = StatusOf(path, FollowLinks::No);
        if (!status || !status->IsLink())
            return path;
        if (!MayFollowLink(path, *status)) {
            errno = EACCES;
            return std::nullopt;
        }
        const std::optional<std::string> next = ReadLink(path);
        if (!next)
            return path;
        path = IsAbsolutePath(*next) ? *next : DirectoryPart(path) + *next;
    }
    return path;
}

std::string OutputGuard::RandomSuffix()
{
    std::string suffix;
    do {
        suffix = RandomName(6);
    } while (suffix == CommitSuffix);
    return suffix;
}

bool OutputGuard::IsTemporaryName(std::string_view name, std::string_view target)
{
    constexpr std::size_t SuffixLength = 6;
    if (name.size() <= SuffixLength)
        return false;
    const std::string_view suffix = name.substr(name.size() - SuffixLength);
    for (const char c : suffix) {
        const bool alphanumeric = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
        if (!alphanumeric)
            return false;
    }
    return suffix != CommitSuffix && name == HiddenName(target, suffix);
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
    const std::optional<std::string> resolved = Resolve(target_);
    if (!resolved)
        return false;
    resolved_ = *resolved;
    const std::string directory = DirectoryPart(resolved_);
    const std::string name = NamePart(resolved_);
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
    if (options_.lock && !lock_.Take(directory, name)) {
        held_ = lock_.Held();
        return false;
    }

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
    lock_.Release();
    errno = error;
    return false;
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

bool OutputGuard::Prepare()
{
    // Prepared early (a volume of a set, finished before the others), it is
    // prepared once: the file is closed, and its status is the one taken then.
    if (prepared_)
        return true;
    if (temporary_.empty() || !Sync())
        return false;
    preparedStatus_ = file_.Status();
    if (!file_.Close())
        return false;
    prepared_ = true;
    return true;
}

void OutputGuard::Uncover()
{
    if (prepared_)
        temporaryCleanup_.Release();
}

bool OutputGuard::Place()
{
    if (!prepared_ || !RenameFile(temporary_, resolved_))
        return false;
    temporaryCleanup_.Release();
    temporary_.clear();
    prepared_ = false;
    return true;
}

void OutputGuard::SyncDirectory() const
{
    if (!options_.sync)
        return;
    const std::string directory = DirectoryPart(resolved_);
    const File parent = File::Open(directory.empty() ? "." : directory, OpenFlags::Read | OpenFlags::Directory);
    if (parent.IsOpen())
        parent.Sync();
}

void OutputGuard::Finish()
{
    lock_.Release();
}

void OutputGuard::Keep()
{
    temporaryCleanup_.Release();
    temporary_.clear();
    prepared_ = false;
}

bool OutputGuard::Commit()
{
    if (!Prepare() || !Place()) {
        const int error = errno;
        Discard();
        errno = error;
        return false;
    }
    SyncDirectory();
    Finish();
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
    prepared_ = false;
    lock_.Release();
}

}  // namespace zelkor
