#include "platform/directory.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <memory>
#include <stdexcept>

namespace zelkor {

namespace {

FileStatus StatusOf(const struct stat& info)
{
    FileStatus status;
    status.size = static_cast<std::uint64_t>(info.st_size);
    status.device = static_cast<std::uint64_t>(info.st_dev);
    status.inode = static_cast<std::uint64_t>(info.st_ino);
    status.mode = static_cast<unsigned>(info.st_mode);
    status.owner = static_cast<unsigned>(info.st_uid);
    status.group = static_cast<unsigned>(info.st_gid);
    status.modified = static_cast<std::int64_t>(info.st_mtim.tv_sec);
    return status;
}

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
    File handle = File::Open(path, O_RDONLY | O_DIRECTORY);
    if (!handle.IsOpen())
        return std::nullopt;
    return Directory(std::move(handle));
}

bool Directory::Create(const std::string& path)
{
    if (path.find('\0') != std::string::npos)
        return false;
    std::error_code error;
    std::filesystem::create_directories(path, error);
    return std::filesystem::is_directory(path, error);
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
    File handle = File::OpenAt(handle_, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW);
    if (!handle.IsOpen())
        return std::nullopt;
    return Directory(std::move(handle));
}

bool Directory::MakeDirectory(const std::string& name) const
{
    if (!IsComponent(name))
        return false;
    return ::mkdirat(handle_.Descriptor(), name.c_str(), 0777) == 0 || errno == EEXIST;
}

File Directory::OpenForReading(const std::string& name, FileStatus* status) const
{
    if (!IsComponent(name))
        return File();
    return File::OpenRegularAt(handle_, name, O_RDONLY | O_NOFOLLOW, status);
}

File Directory::OpenForUpdate(const std::string& name) const
{
    if (!IsComponent(name))
        return File();
    return File::OpenRegularAt(handle_, name, O_RDWR | O_CREAT | O_NOFOLLOW);
}

File Directory::CreateUnique(std::string_view prefix, std::string& name, SignalCleanup::Registration& cleanup) const
{
    for (int attempt = 0; attempt < 16; ++attempt) {
        std::string candidate(prefix);
        candidate += RandomCharacters();
        if (!IsComponent(candidate))
            return File();
        SignalCleanup::Registration covered(PathOf(candidate));
        // O_EXCL: whatever stands at the name, a FIFO or a link included, is
        // never opened.
        File file = File::OpenAt(handle_, candidate, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW, 0666);
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
    if (!IsComponent(from) || !IsComponent(to))
        return false;
    return ::renameat(handle_.Descriptor(), from.c_str(), handle_.Descriptor(), to.c_str()) == 0;
}

bool Directory::Remove(const std::string& name) const
{
    if (!IsComponent(name))
        return false;
    return ::unlinkat(handle_.Descriptor(), name.c_str(), 0) == 0;
}

std::optional<std::vector<Directory::Entry>> Directory::List() const
{
    // The listing reads through a descriptor of its own, so that this one keeps
    // its position and stays open when the listing ends.
    const int fd = ::openat(handle_.Descriptor(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
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
        entries.push_back({name, StatusOf(info)});
    }
    // A listing that stopped on an error is incomplete.
    if (errno != 0)
        return std::nullopt;
    return entries;
}

}  // namespace zelkor
