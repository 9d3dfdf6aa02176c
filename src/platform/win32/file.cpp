#include "platform/file.h"

#include <windows.h>

#include <cerrno>
#include <cstring>
#include <mutex>
#include <vector>
#include <thread>
#include <utility>

#include "platform/win32/relative_open.h"
#include "platform/win32/wide_path.h"
#include "platform/win32/win32_error.h"
#include "platform/win32/win32_status.h"

namespace zelkor {

namespace {

HANDLE Native(const File& file)
{
    return reinterpret_cast<HANDLE>(file.NativeHandle());
}

// The largest transfer handed to one ReadFile or WriteFile (their counts are 32-bit).
constexpr std::size_t MaxTransfer = 1u << 30;

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
win32::OpenRequest RequestFor(OpenFlags flags)
{
    win32::OpenRequest request;
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
    const std::optional<FileKind> kind = win32::KindOfHandle(reinterpret_cast<std::intptr_t>(handle));
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

// Opens `path` the way File::Open promises. The handle is not inherited by
// programs the process starts (no SECURITY_ATTRIBUTES).
HANDLE OpenHandle(const std::string& path, OpenFlags flags)
{
    const std::wstring wide = win32::WidePath(path);
    const win32::OpenRequest request = RequestFor(flags);
    HANDLE handle =
        ::CreateFileW(wide.c_str(), request.access, request.share, nullptr, request.disposition, request.flags, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        const DWORD error = ::GetLastError();
        win32::SetErrnoFromLastError();
        // Asked for a file, found a directory: as the POSIX systems tell it.
        if (error == ERROR_ACCESS_DENIED && IsDirectoryPath(wide))
            errno = EISDIR;
        return INVALID_HANDLE_VALUE;
    }
    return Checked(handle, flags);
}

// Opens `name` in the open directory `directory` (a name of "." is the
// directory itself).
HANDLE OpenHandleAt(HANDLE directory, const std::string& name, OpenFlags flags)
{
    const win32::OpenRequest request = RequestFor(flags);
    return Checked(win32::OpenRelative(directory, name == "." ? std::wstring() : win32::Wide(name), request), flags);
}

bool Transfer(HANDLE handle, bool write, std::uint8_t* data, std::size_t size, const std::uint64_t* offset,
              std::size_t& done)
{
    done = 0;
    while (done < size) {
        const auto count = static_cast<DWORD>(std::min(size - done, MaxTransfer));
        OVERLAPPED at{};
        if (offset) {
            const std::uint64_t position = *offset + done;
            at.Offset = static_cast<DWORD>(position);
            at.OffsetHigh = static_cast<DWORD>(position >> 32);
        }
        DWORD moved = 0;
        const BOOL ok = write ? ::WriteFile(handle, data + done, count, &moved, offset ? &at : nullptr)
                              : ::ReadFile(handle, data + done, count, &moved, offset ? &at : nullptr);
        if (!ok) {
            if (!write && ::GetLastError() == ERROR_HANDLE_EOF)
                return true;
            win32::SetErrnoFromLastError();
            return false;
        }
        if (moved == 0) {
            if (write) {
                errno = ENOSPC;
                return false;
            }
            return true;  // the end of the file
        }
        done += moved;
    }
    return true;
}

std::optional<std::uint64_t> Pointer(HANDLE handle)
{
    LARGE_INTEGER zero{};
    LARGE_INTEGER position{};
    if (!::SetFilePointerEx(handle, zero, &position, FILE_CURRENT)) {
        win32::SetErrnoFromLastError();
        return std::nullopt;
    }
    return static_cast<std::uint64_t>(position.QuadPart);
}

void MovePointer(HANDLE handle, std::uint64_t position)
{
    LARGE_INTEGER to{};
    to.QuadPart = static_cast<LONGLONG>(position);
    ::SetFilePointerEx(handle, to, nullptr, FILE_BEGIN);
}

// A positioned transfer on a synchronous handle moves the handle's pointer
// too, which the POSIX calls it stands for never do: the pointer is put back,
// under a lock per handle (one of a few, chosen by the handle), so that two
// threads' positioned calls on one file cannot put back each other's moves.
// Windows serialises a synchronous handle's transfers anyway.
bool PositionedTransfer(HANDLE handle, bool write, std::uint8_t* data, std::size_t size, std::uint64_t offset,
                        std::size_t& done)
{
    static std::mutex locks[64];
    const std::lock_guard<std::mutex> lock(locks[(reinterpret_cast<std::uintptr_t>(handle) >> 3) % 64]);
    const std::optional<std::uint64_t> position = Pointer(handle);
    const bool moved = Transfer(handle, write, data, size, &offset, done);
    if (position) {
        const int error = errno;
        MovePointer(handle, *position);
        errno = error;
    }
    return moved;
}

}  // namespace

File::~File()
{
    Close();
}

File::File(File&& other) noexcept
    : handle_(std::exchange(other.handle_, NoHandle)), path_(std::move(other.path_))
{
}

File& File::operator=(File&& other) noexcept
{
    if (this != &other) {
        Close();
        handle_ = std::exchange(other.handle_, NoHandle);
        path_ = std::move(other.path_);
    }
    return *this;
}

File File::Open(const std::string& path, OpenFlags flags, unsigned)
{
    if (path.empty() || path.find('\0') != std::string::npos) {
        errno = path.empty() ? ENOENT : EINVAL;
        return File(NoHandle, path);
    }
    return File(reinterpret_cast<std::intptr_t>(OpenHandle(path, flags)), path);
}

File File::OpenAt(const File& directory, const std::string& name, OpenFlags flags, unsigned permissions)
{
    return OpenAt(directory, name, flags, permissions, directory.path_ + "/" + name);
}

File File::OpenAt(const File& directory, const std::string& name, OpenFlags flags, unsigned, std::string path)
{
    if (name.find('\0') != std::string::npos || !directory.IsOpen()) {
        errno = directory.IsOpen() ? EINVAL : EBADF;
        return File(NoHandle, std::move(path));
    }
    return File(reinterpret_cast<std::intptr_t>(OpenHandleAt(Native(directory), name, flags)), std::move(path));
}

namespace {

File OnlyRegular(File file, FileStatus* out)
{
    if (!file.IsOpen())
        return file;
    const std::optional<FileStatus> status = file.Status();
    if (!status || !status->IsRegular()) {
        errno = status ? EINVAL : errno;
        return File();
    }
    if (out)
        *out = *status;
    return file;
}

}  // namespace

File File::OpenRegular(const std::string& path, OpenFlags flags, FileStatus* status)
{
    return OnlyRegular(Open(path, flags | OpenFlags::NonBlocking), status);
}

File File::OpenRegularAt(const File& directory, const std::string& name, OpenFlags flags, FileStatus* status,
                         unsigned permissions)
{
    return OnlyRegular(OpenAt(directory, name, flags | OpenFlags::NonBlocking, permissions), status);
}

bool File::WriteAll(const void* data, std::size_t size)
{
    std::size_t done = 0;
    return Transfer(Native(*this), true, static_cast<std::uint8_t*>(const_cast<void*>(data)), size, nullptr, done);
}

bool File::WriteAll(std::initializer_list<std::span<const std::uint8_t>> pieces)
{
    for (const std::span<const std::uint8_t> piece : pieces) {
        if (!WriteAll(piece.data(), piece.size()))
            return false;
    }
    return true;
}

bool File::WriteAt(std::uint64_t offset, const void* data, std::size_t size)
{
    std::size_t done = 0;
    return PositionedTransfer(Native(*this), true, static_cast<std::uint8_t*>(const_cast<void*>(data)), size, offset,
                              done);
}

std::optional<std::size_t> File::ReadUpTo(void* data, std::size_t size)
{
    std::size_t done = 0;
    if (!Transfer(Native(*this), false, static_cast<std::uint8_t*>(data), size, nullptr, done))
        return std::nullopt;
    return done;
}

std::optional<std::size_t> File::ReadAt(std::uint64_t offset, void* data, std::size_t size) const
{
    std::size_t done = 0;
    if (!PositionedTransfer(Native(*this), false, static_cast<std::uint8_t*>(data), size, offset, done))
        return std::nullopt;
    return done;
}

std::optional<std::size_t> File::ReadAt(std::uint64_t offset,
                                        std::initializer_list<std::span<std::uint8_t>> pieces) const
{
    constexpr std::size_t MaxPieces = 8;
    if (pieces.size() > MaxPieces) {
        errno = EINVAL;
        return std::nullopt;
    }
    std::size_t total = 0;
    for (const std::span<std::uint8_t> piece : pieces) {
        const std::optional<std::size_t> got = ReadAt(offset + total, piece.data(), piece.size());
        if (!got)
            return std::nullopt;
        total += *got;
        if (*got < piece.size())
            break;
    }
    return total;
}

bool File::Lock(bool wait)
{
    OVERLAPPED whole{};
    const DWORD mode = LOCKFILE_EXCLUSIVE_LOCK | (wait ? 0 : LOCKFILE_FAIL_IMMEDIATELY);
    if (::LockFileEx(Native(*this), mode, 0, MAXDWORD, MAXDWORD, &whole))
        return true;
    win32::SetErrnoFromLastError();
    return false;
}

File::Locking File::LockWithin(std::chrono::milliseconds limit)
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
        if (Lock(false))
            return Locking::Locked;
        if (errno != EWOULDBLOCK)
            return Locking::Failed;
        const auto now = std::chrono::steady_clock::now();
        if (now >= deadline)
            return Locking::Busy;
        std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(deadline - now,
                                                                                 std::chrono::milliseconds(10)));
    }
}

void File::StartWriteback(std::uint64_t, std::uint64_t) const
{
    // Windows has no call that starts a write-back without waiting for it; the
    // flush does all the work.
}

bool File::Sync() const
{
    if (::FlushFileBuffers(Native(*this)))
        return true;
    // A directory opened to be read cannot be flushed, and need not be: NTFS
    // logs its entries' changes itself.
    if (win32::KindOfHandle(handle_) == FileKind::Directory)
        return true;
    win32::SetErrnoFromLastError();
    return false;
}

bool File::Touch() const
{
    FILETIME now{};
    ::GetSystemTimeAsFileTime(&now);
    if (::SetFileTime(Native(*this), nullptr, nullptr, &now))
        return true;
    win32::SetErrnoFromLastError();
    return false;
}

void File::TakeAttributesOf(const FileStatus& status) const
{
    // Windows files have no owner bits to give; only read-only carries over.
    if ((status.permissions & 0222) != 0)
        return;
    FILE_BASIC_INFO basic{};
    if (::GetFileInformationByHandleEx(Native(*this), FileBasicInfo, &basic, sizeof basic)) {
        basic.FileAttributes |= FILE_ATTRIBUTE_READONLY;
        (void)::SetFileInformationByHandle(Native(*this), FileBasicInfo, &basic, sizeof basic);
    }
}

std::optional<FileStatus> File::Status() const
{
    return win32::StatusOfHandle(handle_, false);
}

std::optional<std::uint64_t> File::Position() const
{
    return Pointer(Native(*this));
}

bool File::Seek(std::uint64_t offset)
{
    LARGE_INTEGER to{};
    to.QuadPart = static_cast<LONGLONG>(offset);
    if (::SetFilePointerEx(Native(*this), to, nullptr, FILE_BEGIN))
        return true;
    win32::SetErrnoFromLastError();
    return false;
}

bool File::Truncate(std::uint64_t length)
{
    FILE_END_OF_FILE_INFO end{};
    end.EndOfFile.QuadPart = static_cast<LONGLONG>(length);
    if (::SetFileInformationByHandle(Native(*this), FileEndOfFileInfo, &end, sizeof end))
        return true;
    win32::SetErrnoFromLastError();
    return false;
}

namespace {

bool Passable(const std::string& name)
{
    if (name.find('\0') == std::string::npos)
        return true;
    errno = EINVAL;
    return false;
}

bool Succeeded(BOOL ok)
{
    if (!ok)
        win32::SetErrnoFromLastError();
    return ok != 0;
}

}  // namespace

std::optional<FileStatus> File::StatusAt(const std::string& name) const
{
    if (!Passable(name))
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
    if (!Passable(name))
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
    if (!Passable(name))
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
    if (!Passable(from) || !Passable(to))
        return false;
    const HANDLE entry = OpenEntry(Native(*this), from, false);
    if (entry == INVALID_HANDLE_VALUE)
        return false;
    // The new name, relative to this directory too.
    const bool renamed = win32::RenameRelative(entry, Native(*this), win32::Wide(to), replace);
    ::CloseHandle(entry);
    return renamed;
}

bool File::Close()
{
    if (handle_ == NoHandle)
        return true;
    return Succeeded(::CloseHandle(reinterpret_cast<HANDLE>(std::exchange(handle_, NoHandle))));
}

}  // namespace zelkor
