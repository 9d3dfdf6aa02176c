#include "platform/directory.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <memory>

#include "platform/posix/posix_status.h"
#include "platform/system.h"

namespace zelkor {

// The calls on an open directory: File's calls for the names in it, which
// Directory is built on, and Directory's listing.

namespace {

int Descriptor(const File& file)
{
    return static_cast<int>(file.NativeHandle());
}

struct DirCloser {
    void operator()(DIR* dir) const { ::closedir(dir); }
};

}  // namespace

std::optional<FileStatus> File::StatusAt(const std::string& name) const
{
    struct stat info {};
    if (!system::Passable(name) || ::fstatat(Descriptor(*this), name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0)
        return std::nullopt;
    return posix::StatusFrom(info);
}

bool File::RemoveAt(const std::string& name) const
{
    return system::Passable(name) && ::unlinkat(Descriptor(*this), name.c_str(), 0) == 0;
}

bool File::MakeDirectoryAt(const std::string& name, unsigned permissions) const
{
    return system::Passable(name) && ::mkdirat(Descriptor(*this), name.c_str(), static_cast<mode_t>(permissions)) == 0;
}

bool File::RenameAt(const std::string& from, const std::string& to, bool replace) const
{
    if (!system::Passable(from) || !system::Passable(to))
        return false;
    const int fd = Descriptor(*this);
    if (replace)
        return ::renameat(fd, from.c_str(), fd, to.c_str()) == 0;
    if (::renameat2(fd, from.c_str(), fd, to.c_str(), RENAME_NOREPLACE) == 0)
        return true;
    // Where the file system cannot rename so, a hard link does the same.
    if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP)
        return false;
    if (::linkat(fd, from.c_str(), fd, to.c_str(), 0) != 0)
        return false;
    ::unlinkat(fd, from.c_str(), 0);
    return true;
}

std::optional<std::vector<Directory::Entry>> Directory::List() const
{
    // The listing reads through a descriptor of its own, so that this one keeps
    // its position and stays open when the listing ends.
    const int fd = ::openat(Descriptor(handle_), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
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
