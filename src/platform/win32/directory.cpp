#include "platform/directory.h"

#include <windows.h>

#include <cerrno>

#include "platform/system.h"
#include "platform/win32/find_handle.h"
#include "platform/win32/relative_open.h"
#include "platform/win32/wide_path.h"
#include "platform/win32/win32_status.h"

namespace zelkor {

// The calls on an open directory: File's calls for the names in it, which
// Directory is built on, and Directory's listing.

namespace {

HANDLE Native(const File& file)
{
    return reinterpret_cast<HANDLE>(file.NativeHandle());
}

}  // namespace

std::optional<FileStatus> File::StatusAt(const std::string& name) const
{
    if (!system::Passable(name))
        return std::nullopt;
    win32::OpenRequest request;
    request.access = FILE_READ_ATTRIBUTES;
    request.share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    request.flags = FILE_FLAG_OPEN_REPARSE_POINT;
    const HANDLE item = win32::OpenRelative(Native(*this), win32::Wide(name), request);
    if (item == INVALID_HANDLE_VALUE)
        return std::nullopt;
    std::optional<FileStatus> status = win32::StatusOfHandle(reinterpret_cast<std::intptr_t>(item), true);
    ::CloseHandle(item);
    return status;
}

namespace {

// Opens `name` in `directory` to remove or rename it: the entry itself, a
// link not followed. With `onlyFile`, a directory is refused (EISDIR).
HANDLE OpenEntry(HANDLE directory, const std::string& name, bool onlyFile)
{
    win32::OpenRequest request;
    request.access = DELETE;
    request.share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    request.flags = FILE_FLAG_OPEN_REPARSE_POINT;
    const HANDLE entry = win32::OpenRelative(directory, win32::Wide(name), request);
    if (entry == INVALID_HANDLE_VALUE || !onlyFile)
        return entry;
    const std::optional<FileKind> kind = win32::KindOfHandle(reinterpret_cast<std::intptr_t>(entry));
    if (kind == FileKind::Directory) {
        ::CloseHandle(entry);
        errno = EISDIR;
        return INVALID_HANDLE_VALUE;
    }
    return entry;
}

}  // namespace

bool File::RemoveAt(const std::string& name) const
{
    if (!system::Passable(name))
        return false;
    const HANDLE entry = OpenEntry(Native(*this), name, true);
    if (entry == INVALID_HANDLE_VALUE)
        return false;
    const bool removed = win32::MarkForDeletion(entry);
    ::CloseHandle(entry);
    return removed;
}

bool File::MakeDirectoryAt(const std::string& name, unsigned) const
{
    if (!system::Passable(name))
        return false;
    win32::OpenRequest request;
    request.access = FILE_LIST_DIRECTORY;
    request.share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    request.disposition = CREATE_NEW;
    request.flags = FILE_ATTRIBUTE_DIRECTORY | FILE_FLAG_OPEN_REPARSE_POINT;
    const HANDLE made = win32::OpenRelative(Native(*this), win32::Wide(name), request);
    if (made == INVALID_HANDLE_VALUE)
        return false;
    ::CloseHandle(made);
    return true;
}

bool File::RenameAt(const std::string& from, const std::string& to, bool replace) const
{
    if (!system::Passable(from) || !system::Passable(to))
        return false;
    const HANDLE entry = OpenEntry(Native(*this), from, false);
    if (entry == INVALID_HANDLE_VALUE)
        return false;
    // The new name, relative to this directory too.
    const bool renamed = win32::RenameRelative(entry, Native(*this), win32::Wide(to), replace);
    ::CloseHandle(entry);
    return renamed;
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
