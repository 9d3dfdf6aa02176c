#include "platform/directory.h"

#include <windows.h>

#include <cerrno>

#include "platform/file_system.h"
#include "platform/win32/find_handle.h"
#include "platform/win32/random_bytes.h"
#include "platform/win32/wide_path.h"
#include "platform/win32/win32_status.h"

namespace zelkor {

namespace {

// A name is one component: either slash would be taken as a way down, a colon
// as a drive or a stream, a NUL as its end.
bool IsComponent(const std::string& name)
{
    if (name.empty() || name == "." || name == ".." ||
        name.find_first_of(std::string("/\\:\0", 4)) != std::string::npos) {
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
    win32::RandomBytes(bytes, sizeof bytes);
    std::string text(sizeof bytes, ' ');
    for (std::size_t i = 0; i < sizeof bytes; ++i)
        text[i] = letters[bytes[i] % 64];
    return text;
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

File Directory::CreateUnique(std::string_view prefix, std::string& name, SignalCleanup::Registration& cleanup,
                             unsigned permissions) const
{
    for (int attempt = 0; attempt < 16; ++attempt) {
        std::string candidate(prefix);
        candidate += RandomCharacters();
        if (!IsComponent(candidate))
            return File();
        SignalCleanup::Registration covered(PathOf(candidate));
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
    std::vector<Entry> entries;
    const bool listed = win32::ForEachEntry(Path(), [&](const WIN32_FIND_DATAW& found) {
        std::string name = win32::Narrow(found.cFileName);
        if (name == "." || name == "..")
            return;
        FileStatus status;
        const DWORD attributes = found.dwFileAttributes;
        status.kind = win32::IsLinkEntry(found)                      ? FileKind::Link
                      : (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? FileKind::Directory
                                                                     : FileKind::Regular;
        const bool readOnly = (attributes & FILE_ATTRIBUTE_READONLY) != 0;
        status.permissions = status.kind == FileKind::Directory ? 0755u : readOnly ? 0444u : 0644u;
        status.size = (static_cast<std::uint64_t>(found.nFileSizeHigh) << 32) | found.nFileSizeLow;
        status.modifiedNanoseconds =
            win32::UnixNanoseconds(found.ftLastWriteTime.dwLowDateTime, found.ftLastWriteTime.dwHighDateTime);
        status.changedNanoseconds = status.modifiedNanoseconds;
        entries.push_back({std::move(name), status});
    });
    if (!listed)
        return std::nullopt;
    return entries;
}

}  // namespace zelkor
