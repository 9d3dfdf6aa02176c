#include "platform/file.h"

#include <windows.h>

#include <cerrno>
#include <cstring>
#include <mutex>
#include <utility>

#include "platform/system.h"
#include "platform/win32/open_handle.h"
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

File File::Open(const std::string& path, OpenFlags flags, unsigned)
{
    if (path.empty() || path.find('\0') != std::string::npos) {
        errno = path.empty() ? ENOENT : EINVAL;
        return File(NoHandle, path);
    }
    return File(reinterpret_cast<std::intptr_t>(win32::OpenHandle(path, flags)), path);
}

File File::OpenAt(const File& directory, const std::string& name, OpenFlags flags, unsigned, std::string path)
{
    if (!system::Passable(name) || !directory.IsOpen()) {
        errno = directory.IsOpen() ? EINVAL : EBADF;
        return File(NoHandle, std::move(path));
    }
    return File(reinterpret_cast<std::intptr_t>(win32::OpenHandleAt(Native(directory), name, flags)), std::move(path));
}

bool File::WriteAll(std::initializer_list<std::span<const std::uint8_t>> pieces)
{
    for (const std::span<const std::uint8_t> piece : pieces) {
        std::size_t done = 0;
        if (!Transfer(Native(*this), true, const_cast<std::uint8_t*>(piece.data()), piece.size(), nullptr, done))
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

std::optional<std::size_t> File::ReadAt(std::uint64_t offset,
                                        std::initializer_list<std::span<std::uint8_t>> pieces) const
{
    if (pieces.size() > MaxPieces) {
        errno = EINVAL;
        return std::nullopt;
    }
    std::size_t total = 0;
    for (const std::span<std::uint8_t> piece : pieces) {
        std::size_t got = 0;
        if (!PositionedTransfer(Native(*this), false, piece.data(), piece.size(), offset + total, got))
            return std::nullopt;
        total += got;
        if (got < piece.size())
            break;
    }
    return total;
}

bool File::Lock(bool wait)
{
    OVERLAPPED whole{};
    const DWORD mode = LOCKFILE_EXCLUSIVE_LOCK | (wait ? 0 : LOCKFILE_FAIL_IMMEDIATELY);
    return win32::Succeeded(::LockFileEx(Native(*this), mode, 0, MAXDWORD, MAXDWORD, &whole));
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
    return win32::Succeeded(::SetFileTime(Native(*this), nullptr, nullptr, &now));
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
    return win32::Succeeded(::SetFilePointerEx(Native(*this), to, nullptr, FILE_BEGIN));
}

bool File::Truncate(std::uint64_t length)
{
    FILE_END_OF_FILE_INFO end{};
    end.EndOfFile.QuadPart = static_cast<LONGLONG>(length);
    return win32::Succeeded(::SetFileInformationByHandle(Native(*this), FileEndOfFileInfo, &end, sizeof end));
}

namespace system {

bool CloseFile(std::intptr_t handle)
{
    return win32::Succeeded(::CloseHandle(reinterpret_cast<HANDLE>(handle)));
}

}  // namespace system

}  // namespace zelkor
