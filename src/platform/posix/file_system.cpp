#include "platform/file_system.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/ascii.h"
#include "platform/posix/posix_status.h"
#include "platform/system.h"

namespace zelkor {

namespace {

bool IsDirectory(const std::string& path)
{
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

}  // namespace

std::string DirectoryPart(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string NamePart(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool IsAbsolutePath(const std::string& path)
{
    return !path.empty() && path.front() == '/';
}

std::optional<FileStatus> StatusOf(const std::string& path, FollowLinks follow)
{
    if (!system::Passable(path))
        return std::nullopt;
    return posix::StatusOfPath(path.c_str(), follow == FollowLinks::Yes);
}

std::optional<std::string> ReadLink(const std::string& path)
{
    if (!system::Passable(path))
        return std::nullopt;
    char target[PATH_MAX];
    const ssize_t length = ::readlink(path.c_str(), target, sizeof target);
    if (length < 0)
        return std::nullopt;
    if (length == 0 || static_cast<std::size_t>(length) >= sizeof target) {
        errno = ENAMETOOLONG;
        return std::nullopt;
    }
    return std::string(target, static_cast<std::size_t>(length));
}

bool MayFollowLink(const std::string& path, const FileStatus& link)
{
    // The rule the kernel applies to its own opens there (protected_symlinks),
    // so that nobody can plant a link for another user to write through.
    const std::string part = DirectoryPart(path);
    const std::string directory = part.empty() ? std::string(".") : part;
    struct stat info {};
    if (!system::Passable(directory) || ::stat(directory.c_str(), &info) != 0)
        return false;
    const bool shared = (info.st_mode & S_ISVTX) != 0 && (info.st_mode & S_IWOTH) != 0;
    return !shared || link.owner == static_cast<unsigned>(info.st_uid) || link.owner == EffectiveUser();
}

bool RemoveFile(const std::string& path)
{
    return system::Passable(path) && ::unlink(path.c_str()) == 0;
}

bool RenameFile(const std::string& from, const std::string& to)
{
    return system::Passable(from) && system::Passable(to) && std::rename(from.c_str(), to.c_str()) == 0;
}

bool MakeDirectory(const std::string& path, unsigned permissions)
{
    return system::Passable(path) && ::mkdir(path.c_str(), static_cast<mode_t>(permissions)) == 0;
}

std::uint64_t ProcessId()
{
    return static_cast<std::uint64_t>(::getpid());
}

bool MayWrite(const std::string& path)
{
    // The effective user's rights, as an open would meet them; a directory also
    // needs to be searchable for a name in it to be created.
    struct stat info {};
    if (!system::Passable(path) || ::stat(path.c_str(), &info) != 0)
        return false;
    const int wanted = S_ISDIR(info.st_mode) ? W_OK | X_OK : W_OK;
    return ::faccessat(AT_FDCWD, path.c_str(), wanted, AT_EACCESS) == 0;
}

unsigned EffectiveUser()
{
    return static_cast<unsigned>(::geteuid());
}

std::string MachineIdentity()
{
    for (const char* path : {"/etc/machine-id", "/var/lib/dbus/machine-id"}) {
        File file = File::OpenRegular(path, OpenFlags::Read);
        char text[128];
        const std::optional<std::size_t> got = file.IsOpen() ? file.ReadAt(0, text, sizeof text) : std::nullopt;
        if (got && *got > 0)
            return std::string(text, *got);
    }
    char host[256] = {};
    if (::gethostname(host, sizeof host - 1) != 0)
        return {};
    return host;
}

std::string FileNameInOneCase(std::string_view name)
{
    return AsciiUppered(name);
}

namespace system {

std::optional<std::string> WorkingDirectory()
{
    char directory[PATH_MAX];
    if (!::getcwd(directory, sizeof directory))
        return std::nullopt;
    return std::string(directory);
}

bool MakeOrFindDirectory(const std::string& path, unsigned permissions)
{
    if (::mkdir(path.c_str(), static_cast<mode_t>(permissions)) == 0)
        return true;
    if (errno != EEXIST)
        return false;
    if (IsDirectory(path))
        return true;
    errno = ENOTDIR;
    return false;
}

std::optional<std::string> ParentDirectory(const std::string& directory)
{
    const std::size_t slash = directory.rfind('/');
    if (slash == std::string::npos)
        return std::nullopt;
    return directory.substr(0, slash == 0 ? 1 : slash);
}

}  // namespace system

}  // namespace zelkor
