#include "platform/win32/win32_status.h"

#include <windows.h>

#include <cwchar>
#include <limits>
#include <mutex>
#include <utility>
#include <vector>

#include "platform/win32/win32_error.h"

namespace zelkor::win32 {

namespace {

// Whether the volume of serial number `serial`, on which `handle` lies, runs a
// file system that keeps a true change time (NTFS, ReFS; not FAT or exFAT,
// which keep none). Asked once per volume: the query is slow.
bool KeepsChangeTime(HANDLE handle, DWORD serial)
{
    static std::mutex mutex;
    static std::vector<std::pair<DWORD, bool>> known;
    {
        const std::lock_guard<std::mutex> lock(mutex);
        for (const auto& [volume, keeps] : known) {
            if (volume == serial)
                return keeps;
        }
    }
    wchar_t name[MAX_PATH + 1] = {};
    if (!::GetVolumeInformationByHandleW(handle, nullptr, 0, nullptr, nullptr, nullptr, name, MAX_PATH + 1))
        return false;
    const bool keeps = _wcsicmp(name, L"NTFS") == 0 || _wcsicmp(name, L"ReFS") == 0;
    const std::lock_guard<std::mutex> lock(mutex);
    known.emplace_back(serial, keeps);
    return keeps;
}

}  // namespace

std::int64_t UnixNanoseconds(std::uint32_t low, std::uint32_t high)
{
    // 1601-01-01 to 1970-01-01 in 100 ns steps; times past 2262 (or before
    // 1677) are held there.
    constexpr std::int64_t EpochDifference = 116444736000000000;
    const auto ticks = static_cast<std::int64_t>((static_cast<std::uint64_t>(high) << 32) | low);
    constexpr std::int64_t Most = std::numeric_limits<std::int64_t>::max();
    constexpr std::int64_t Least = std::numeric_limits<std::int64_t>::min();
    if (ticks > Most / 100 + EpochDifference)
        return Most;
    if (ticks < Least / 100 + EpochDifference)
        return Least;
    return (ticks - EpochDifference) * 100;
}

std::optional<FileStatus> StatusOfHandle(std::intptr_t native, bool asLink)
{
    const auto handle = reinterpret_cast<HANDLE>(native);
    FileStatus status;
    const DWORD type = ::GetFileType(handle);
    if (type != FILE_TYPE_DISK) {
        if (type == FILE_TYPE_UNKNOWN && ::GetLastError() != NO_ERROR) {
            SetErrnoFromLastError();
            return std::nullopt;
        }
        status.kind = FileKind::Other;  // a console, a pipe, a device
        return status;
    }
    BY_HANDLE_FILE_INFORMATION info{};
    if (!::GetFileInformationByHandle(handle, &info)) {
        SetErrnoFromLastError();
        return std::nullopt;
    }
    const DWORD attributes = info.dwFileAttributes;
    if (asLink && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        FILE_ATTRIBUTE_TAG_INFO tag{};
        if (::GetFileInformationByHandleEx(handle, FileAttributeTagInfo, &tag, sizeof tag) &&
            (tag.ReparseTag == IO_REPARSE_TAG_SYMLINK || tag.ReparseTag == IO_REPARSE_TAG_MOUNT_POINT))
            status.kind = FileKind::Link;
    }
    if (status.kind != FileKind::Link)
        status.kind = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? FileKind::Directory : FileKind::Regular;
    const bool readOnly = (attributes & FILE_ATTRIBUTE_READONLY) != 0;
    status.permissions = status.kind == FileKind::Directory ? 0755u : readOnly ? 0444u : 0644u;
    status.size = (static_cast<std::uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
    status.device = info.dwVolumeSerialNumber;
    status.inode = (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    status.owner = 0;
    status.group = 0;
    status.modifiedNanoseconds = UnixNanoseconds(info.ftLastWriteTime.dwLowDateTime, info.ftLastWriteTime.dwHighDateTime);
    // NTFS's change time moves with the content and with the file's metadata
    // (a rename, an attribute), as a POSIX status-change time does.
    FILE_BASIC_INFO basic{};
    if (::GetFileInformationByHandleEx(handle, FileBasicInfo, &basic, sizeof basic) && basic.ChangeTime.QuadPart != 0)
        status.changedNanoseconds = UnixNanoseconds(static_cast<std::uint32_t>(basic.ChangeTime.LowPart),
                                                    static_cast<std::uint32_t>(basic.ChangeTime.HighPart));
    else
        status.changedNanoseconds = status.modifiedNanoseconds;
    // A volume has no mount beneath it to tell apart: its serial number is all.
    status.fileSystem = status.device;
    status.keepsChangeTime = status.kind == FileKind::Regular && KeepsChangeTime(handle, info.dwVolumeSerialNumber);
    return status;
}

std::optional<FileKind> KindOfHandle(std::intptr_t native)
{
    const auto handle = reinterpret_cast<HANDLE>(native);
    const DWORD type = ::GetFileType(handle);
    if (type != FILE_TYPE_DISK) {
        if (type == FILE_TYPE_UNKNOWN && ::GetLastError() != NO_ERROR) {
            SetErrnoFromLastError();
            return std::nullopt;
        }
        return FileKind::Other;
    }
    FILE_ATTRIBUTE_TAG_INFO tag{};
    if (!::GetFileInformationByHandleEx(handle, FileAttributeTagInfo, &tag, sizeof tag)) {
        SetErrnoFromLastError();
        return std::nullopt;
    }
    if ((tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 &&
        (tag.ReparseTag == IO_REPARSE_TAG_SYMLINK || tag.ReparseTag == IO_REPARSE_TAG_MOUNT_POINT))
        return FileKind::Link;
    return (tag.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? FileKind::Directory : FileKind::Regular;
}

std::optional<FileStatus> StatusOfPath(const std::wstring& path, bool follow)
{
    // Opened for its attributes alone, which no other program's sharing refuses.
    const DWORD flags = FILE_FLAG_BACKUP_SEMANTICS | (follow ? 0 : FILE_FLAG_OPEN_REPARSE_POINT);
    const HANDLE handle = ::CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                        OPEN_EXISTING, flags, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        SetErrnoFromLastError();
        return std::nullopt;
    }
    std::optional<FileStatus> status = StatusOfHandle(reinterpret_cast<std::intptr_t>(handle), !follow);
    ::CloseHandle(handle);
    return status;
}

}  // namespace zelkor::win32
