#include "platform/directory.h"

#include <cerrno>

#include "platform/file_system.h"
#include "platform/random_name.h"

namespace zelkor {

namespace {

// A name is one component: a slash would be taken as a way down, a NUL as its
// end, and on Windows a backslash as a way down too, a colon as a drive or a
// stream.
bool IsComponent(const std::string& name)
{
    const std::string_view refused = WindowsFileNames ? std::string_view("/\\:\0", 4) : std::string_view("/\0", 2);
    if (name.empty() || name == "." || name == ".." || name.find_first_of(refused) != std::string::npos) {
        errno = EINVAL;
        return false;
    }
    return true;
}

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

File Directory::CreateUnique(std::string_view prefix, std::string& name,
                             const std::function<void(const std::string& path)>& cover, unsigned permissions) const
{
    for (int attempt = 0; attempt < 16; ++attempt) {
        std::string candidate(prefix);
        candidate += RandomName(12);
        if (!IsComponent(candidate))
            return File();
        cover(PathOf(candidate));
        // Exclusive: whatever stands at the name, a FIFO or a link included, is
        // never opened.
        File file = File::OpenAt(handle_, candidate,
                                 OpenFlags::Write | OpenFlags::Create | OpenFlags::Exclusive | OpenFlags::NoFollow,
                                 permissions);
        if (file.IsOpen()) {
            name = std::move(candidate);
            return file;
        }
        const int error = errno;
        cover(std::string());
        errno = error;
        if (error != EEXIST)
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

}  // namespace zelkor
