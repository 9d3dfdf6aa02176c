#include "platform/win32/open_handle.h"

#include <cerrno>

#include "platform/win32/relative_open.h"
#include "platform/win32/wide_path.h"
#include "platform/win32/win32_error.h"
#include "platform/win32/win32_status.h"

namespace zelkor::win32 {

namespace {

// Whether `path` names a directory, links followed.
bool IsDirectoryPath(const std::wstring& path)
{
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// What File::Open asks of the system for `flags`. The sharing follows what the
// file is for: a file opened to be read lets other readers in (and lets others
// rename or remove it, as on POSIX systems); a file opened only to be written
// (an archive or key file being made, the target it replaces) is shared with
// no reader or writer, so that another program holding the path makes the
// open fail at once, and none can open it while it is written; a file opened
// to be read and written is one that processes share under a lock
// (File::Lock), and is shared with everybody. Deletion is always shared, so
// that a file being written can be removed when the process is stopped.
OpenRequest RequestFor(OpenFlags flags)
{
    OpenRequest request;
    const bool read = Has(flags, OpenFlags::Read);
    const bool write = Has(flags, OpenFlags::Write);
    request.share = FILE_SHARE_DELETE;
    if (read)
        request.access |= GENERIC_READ;
    if (write)
        request.access |= GENERIC_WRITE;
    if (read == write)
        request.share |= FILE_SHARE_READ | FILE_SHARE_WRITE;  // shared, or opened only to be looked at
    else if (read)
        request.share |= FILE_SHARE_READ;
    if (!read && !write)
        request.access = FILE_READ_ATTRIBUTES;
    if (Has(flags, OpenFlags::Directory)) {
        // A directory is opened to be listed, flushed and named in, never written.
        request.access = FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES | SYNCHRONIZE;
        request.share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    }
    if (Has(flags, OpenFlags::Create))
        request.disposition = Has(flags, OpenFlags::Exclusive) ? CREATE_NEW
                              : Has(flags, OpenFlags::Truncate) ? CREATE_ALWAYS
                                                                 : OPEN_ALWAYS;
    else if (Has(flags, OpenFlags::Truncate))
        request.disposition = TRUNCATE_EXISTING;
    request.flags = FILE_ATTRIBUTE_NORMAL | FILE_FLAG_BACKUP_SEMANTICS;
    if (Has(flags, OpenFlags::NoFollow) || Has(flags, OpenFlags::Exclusive))
        request.flags |= FILE_FLAG_OPEN_REPARSE_POINT;
    return request;
}

// Keeps `handle` only when it is what `flags` asked for: no link with
// NoFollow, a directory with Directory, no directory to be written.
HANDLE Checked(HANDLE handle, OpenFlags flags)
{
    if (handle == INVALID_HANDLE_VALUE)
        return handle;
    const std::optional<FileKind> kind = KindOfHandle(reinterpret_cast<std::intptr_t>(handle));
    int refusal = 0;
    if (!kind)
        refusal = errno;
    else if (Has(flags, OpenFlags::NoFollow) && *kind == FileKind::Link)
        refusal = ELOOP;
    else if (Has(flags, OpenFlags::Directory) && *kind != FileKind::Directory)
        refusal = ENOTDIR;
    else if (!Has(flags, OpenFlags::Directory) && *kind == FileKind::Directory && Has(flags, OpenFlags::Write))
        refusal = EISDIR;
    if (refusal == 0)
        return handle;
    ::CloseHandle(handle);
    errno = refusal;
    return INVALID_HANDLE_VALUE;
}

}  // namespace

HANDLE OpenHandle(const std::string& path, OpenFlags flags)
{
    const std::wstring wide = WidePath(path);
    const OpenRequest request = RequestFor(flags);
    HANDLE handle =
        ::CreateFileW(wide.c_str(), request.access, request.share, nullptr, request.disposition, request.flags, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        const DWORD error = ::GetLastError();
        SetErrnoFromLastError();
        // Asked for a file, found a directory: as the POSIX systems tell it.
        if (error == ERROR_ACCESS_DENIED && IsDirectoryPath(wide))
            errno = EISDIR;
        return INVALID_HANDLE_VALUE;
    }
    return Checked(handle, flags);
}

HANDLE OpenHandleAt(HANDLE directory, const std::string& name, OpenFlags flags)
{
    const OpenRequest request = RequestFor(flags);
    return Checked(OpenRelative(directory, name == "." ? std::wstring() : Wide(name), request), flags);
}

}  // namespace zelkor::win32
