#include "platform/directory_listing.h"

#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>

namespace zelkor {

namespace {

struct DirCloser {
    void operator()(DIR* dir) const { ::closedir(dir); }
};

using DirHandle = std::unique_ptr<DIR, DirCloser>;

bool LeadsToDirectory(int dirFd, const dirent& entry)
{
    switch (entry.d_type) {
    case DT_DIR:
        return true;
    case DT_LNK:
    case DT_UNKNOWN:
        break;
    default:
        return false;
    }
    // A link (or a file system that does not say): follow it. When that fails
    // (a dangling link, a loop of links) the entry is not a directory.
    struct stat info {};
    return ::fstatat(dirFd, entry.d_name, &info, 0) == 0 && S_ISDIR(info.st_mode);
}

}  // namespace

std::optional<DirectoryListing> DirectoryListing::Read(const std::string& path)
{
    if (path.find('\0') != std::string::npos)
        return std::nullopt;
    int fd;
    do {
        fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0)
        return std::nullopt;

    struct stat info {};
    if (::fstat(fd, &info) != 0) {
        ::close(fd);
        return std::nullopt;
    }
    // From here on the handle owns the descriptor.
    DirHandle dir(::fdopendir(fd));
    if (!dir) {
        ::close(fd);
        return std::nullopt;
    }

    DirectoryListing listing;
    listing.device = static_cast<std::uint64_t>(info.st_dev);
    listing.inode = static_cast<std::uint64_t>(info.st_ino);
    for (;;) {
        errno = 0;
        const dirent* entry = ::readdir(dir.get());
        if (!entry)
            break;
        listing.entries.push_back({entry->d_name, LeadsToDirectory(::dirfd(dir.get()), *entry)});
    }
    // A listing that stopped on an error is incomplete; taking its first part
    // would silently drop the rest.
    if (errno != 0)
        return std::nullopt;
    return listing;
}

}  // namespace zelkor
