#include "platform/directory.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <stdexcept>

#include "platform/file_system.h"
#include "platform/posix/posix_status.h"

namespace zelkor {

namespace {

// A name is one component: the system would take a slash as a way down, a NUL
// as its end.
bool IsComponent(const std::string& name)
{
    if (name.empty() || name == "." || name == ".." || name.find_first_of(std::string("/\0", 2)) != std::string::npos) {
        errno = EINVAL;
        return false;
    }
    return true;
}

// Twelve characters from the system's random source.
std::string RandomCharacters()
{
    static constexpr char letters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
    unsigned char bytes[12];
    std::size_t got = 0;
    while (got < sizeof bytes) {
        const ssize_t n = ::getrandom(bytes + got, sizeof bytes - got, 0);
        if (n < 0 && errno != EINTR)
            throw std::runtime_error("no random source");
        got += n > 0 ? static_cast<std::size_t>(n) : 0;
    }
    std::string text(sizeof bytes, ' ');
    for (std::size_t i = 0; i < sizeof bytes; ++i)
        text[i] = letters[bytes[i] % 64];
    return text;
}

struct DirCloser {
    void operator()(DIR* dir) const { ::closedir(dir); }
};

}  // namespace

std::optional<Directory> Directory::Open(const std::string& path)
{
    File handle = File::Open(path, OpenFlags::Read | OpenFlags::Directory);
    if (!handle.IsOpen())
        return std::nullopt;
    return Directory(std::move(handle));
}

bool Directory::Create(const std::string& path, unsigned permissions)
{
    return MakeDirectories(path, permissions);
}

std::string Directory::PathOf(std::string_view name) const
{
    std::string path = Path();
    path += '/';
    path += name;
    return path;
}

std::optional<Directory> Directory::Enter(const std::string& name) const
{
    if (!IsComponent(name))
        return std::nullopt;
    File handle = File::OpenAt(handle_, name, OpenFlags::Read | OpenFlags::Directory | OpenFlags::NoFollow);
    if (!handle.IsOpen())
        return std::nullopt;
    return Directory(std::move(handle));
}

bool Directory::MakeDirectory(const std::string& name, unsigned permissions) const
{
    return IsComponent(name) && (handle_.MakeDirectoryAt(name, permissions) || errno == EEXIST);
}

File Directory::OpenForReading(const std::string& name, FileStatus* status) const
{
    if (!IsComponent(name))
        return File();
    return File::OpenRegularAt(handle_, name, OpenFlags::Read | OpenFlags::NoFollow, status);
}

File Directory::OpenForUpdate(const std::string& name, unsigned permissions) const
{
    if (!IsComponent(name))
        return File();
    return File::OpenRegularAt(handle_, name, OpenFlags::ReadWrite | OpenFlags::Create | OpenFlags::NoFollow,
                               nullptr, permissions);
}

File Directory::CreateUnique(std::string_view prefix, std::string& name, SignalCleanup::Registration& cleanup,
                             unsigned permissions) const
{
    for (int attempt = 0; attempt < 16; ++attempt) {
        std::string candidate(prefix);
        candidate += RandomCharacters();
        if (!IsComponent(candidate))
            return File();
        SignalCleanup::Registration covered(PathOf(candidate));
        // Exclusive: whatever stands at the name, a FIFO or a link included, is
        // never opened.
        File file = File::OpenAt(handle_, candidate,
                                 OpenFlags::Write | OpenFlags::Create | OpenFlags::Exclusive | OpenFlags::NoFollow,
                                 permissions);
        if (file.IsOpen()) {
            name = std::move(candidate);
            cleanup = std::move(covered);
            return file;
        }
        if (errno != EEXIST)
            break;
    }
    return File();
}

bool Directory::Rename(const std::string& from, const std::string& to) const
{
    return IsComponent(from) && IsComponent(to) && handle_.RenameAt(from, to, true);
}

bool Directory::Remove(const std::string& name) const
{
    return IsComponent(name) && handle_.RemoveAt(name);
}

std::optional<std::vector<Directory::Entry>> Directory::List() const
{
    // The listing reads through a descriptor of its own, so that this one keeps
    // its position and stays open when the listing ends.
    const int fd = ::openat(static_cast<int>(handle_.NativeHandle()), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    std::unique_ptr<DIR, DirCloser> dir(::fdopendir(fd));
    if (!dir) {
        ::close(fd);
        return std::nullopt;
    }
    std::vector<Entry> entries;
    for (;;) {
        errno = 0;
        const dirent* item = ::readdir(dir.get());
        if (!item)
            break;
        const std::string name = item->d_name;
        if (name == "." || name == "..")
            continue;
        struct stat info {};
        // An entry removed since it was listed is no longer there.
        if (::fstatat(::dirfd(dir.get()), item->d_name, &info, AT_SYMLINK_NOFOLLOW) != 0)
            continue;
        entries.push_back({name, posix::StatusFrom(info)});
    }
    // A listing that stopped on an error is incomplete.
    if (errno != 0)
        return std::nullopt;
    return entries;
}

}  // namespace zelkor
