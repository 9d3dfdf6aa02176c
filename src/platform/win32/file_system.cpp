#include "platform/file_system.h"

#include <windows.h>

#include <cerrno>
#include <iterator>

#include "platform/system.h"
#include "platform/win32/wide_path.h"
#include "platform/win32/win32_error.h"
#include "platform/win32/win32_status.h"

namespace zelkor {

namespace {

bool IsSeparator(char c)
{
    return c == '/' || c == '\\';
}

// Where the name starts: after the last separator, or after a drive's colon
// ("C:name" names a file in drive C's working directory).
std::size_t NameStart(const std::string& path)
{
    const std::size_t separator = path.find_last_of("/\\");
    if (separator != std::string::npos)
        return separator + 1;
    return path.size() >= 2 && path[1] == ':' ? 2 : 0;
}

bool IsDirectory(const std::string& path)
{
    const std::optional<FileStatus> status = StatusOf(path);
    return status && status->IsDirectory();
}

}  // namespace

std::string DirectoryPart(const std::string& path)
{
    return path.substr(0, NameStart(path));
}

std::string NamePart(const std::string& path)
{
    return path.substr(NameStart(path));
}

bool IsAbsolutePath(const std::string& path)
{
    // Rooted (on the working directory's drive, or \\server\share), or a drive
    // letter and a separator.
    if (!path.empty() && IsSeparator(path.front()))
        return true;
    return path.size() >= 3 && path[1] == ':' && IsSeparator(path[2]);
}

std::optional<FileStatus> StatusOf(const std::string& path, FollowLinks follow)
{
    if (!system::Passable(path))
        return std::nullopt;
    if (path.empty()) {
        errno = ENOENT;
        return std::nullopt;
    }
    return win32::StatusOfPath(win32::WidePath(path), follow == FollowLinks::Yes);
}

std::optional<std::string> ReadLink(const std::string& path)
{
    // The file the link finally leads to, as the system resolves it: an
    // absolute path, which the caller takes as it is.
    if (!system::Passable(path))
        return std::nullopt;
    const std::optional<FileStatus> own = win32::StatusOfPath(win32::WidePath(path), false);
    if (!own)
        return std::nullopt;
    if (!own->IsLink()) {
        errno = EINVAL;  // as readlink answers for a file that is no link
        return std::nullopt;
    }
    const HANDLE handle = ::CreateFileW(win32::WidePath(path).c_str(), FILE_READ_ATTRIBUTES,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                        OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        win32::SetErrnoFromLastError();
        return std::nullopt;
    }
    std::wstring target(MAX_PATH, L'\0');
    DWORD length = ::GetFinalPathNameByHandleW(handle, target.data(), static_cast<DWORD>(target.size()), 0);
    if (length >= target.size()) {
        target.resize(length + 1);
        length = ::GetFinalPathNameByHandleW(handle, target.data(), static_cast<DWORD>(target.size()), 0);
    }
    if (length == 0 || length >= target.size()) {
        win32::SetErrnoFromLastError();
        ::CloseHandle(handle);
        return std::nullopt;
    }
    ::CloseHandle(handle);
    target.resize(length);
    return win32::ToolPath(target);
}

bool MayFollowLink(const std::string&, const FileStatus&)
{
    // Windows has no shared directory where one user may plant a link that
    // another then writes through: creating links takes a privilege.
    return true;
}

bool RemoveFile(const std::string& path)
{
    return system::Passable(path) && win32::Succeeded(::DeleteFileW(win32::WidePath(path).c_str()));
}

bool RenameFile(const std::string& from, const std::string& to)
{
    // Written through: the rename is on the disk when the call returns.
    return system::Passable(from) && system::Passable(to) &&
           win32::Succeeded(::MoveFileExW(win32::WidePath(from).c_str(), win32::WidePath(to).c_str(),
                                   MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH));
}

bool MakeDirectory(const std::string& path, unsigned)
{
    return system::Passable(path) && win32::Succeeded(::CreateDirectoryW(win32::WidePath(path).c_str(), nullptr));
}

std::uint64_t ProcessId()
{
    return ::GetCurrentProcessId();
}

bool MayWrite(const std::string& path)
{
    // Windows decides by the file's access list; asking is opening. A
    // directory is opened to add a file to it, a file to write it, both
    // without changing anything.
    if (!system::Passable(path))
        return false;
    const std::optional<FileStatus> status = StatusOf(path);
    if (!status)
        return false;
    const DWORD access = status->IsDirectory() ? FILE_ADD_FILE : FILE_WRITE_DATA;
    const HANDLE handle = ::CreateFileW(win32::WidePath(path).c_str(), access,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                        OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        win32::SetErrnoFromLastError();
        return false;
    }
    ::CloseHandle(handle);
    return true;
}

unsigned EffectiveUser()
{
    // The owner every FileStatus on Windows reports: the process's own user.
    return 0;
}

std::string MachineIdentity()
{
    // The identifier Windows gives the installation, else the computer's name.
    wchar_t guid[64] = {};
    DWORD bytes = sizeof guid;
    if (::RegGetValueW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Cryptography", L"MachineGuid",
                       RRF_RT_REG_SZ | RRF_SUBKEY_WOW6464KEY, nullptr, guid, &bytes) == ERROR_SUCCESS &&
        guid[0] != L'\0')
        return win32::Narrow(guid);
    wchar_t name[256] = {};
    DWORD length = static_cast<DWORD>(std::size(name));
    if (!::GetComputerNameExW(ComputerNameDnsFullyQualified, name, &length))
        return {};
    return win32::Narrow(std::wstring_view(name, length));
}

std::string FileNameInOneCase(std::string_view name)
{
    // Without LCMAP_LINGUISTIC_CASING the mapping is the file system's: one
    // UTF-16 unit for one, whatever the user's language.
    const std::wstring wide = win32::Wide(name);
    if (wide.empty())
        return {};
    std::wstring upper(wide.size(), L'\0');
    const int length = ::LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_UPPERCASE, wide.data(),
                                       static_cast<int>(wide.size()), upper.data(), static_cast<int>(upper.size()),
                                       nullptr, nullptr, 0);
    if (length <= 0)
        return std::string(name);
    upper.resize(static_cast<std::size_t>(length));
    return win32::Narrow(upper);
}

namespace system {

std::optional<std::string> WorkingDirectory()
{
    const DWORD needed = ::GetCurrentDirectoryW(0, nullptr);
    std::wstring directory(needed, L'\0');
    const DWORD length = ::GetCurrentDirectoryW(needed, directory.data());
    if (length == 0 || length >= needed) {
        win32::SetErrnoFromLastError();
        return std::nullopt;
    }
    directory.resize(length);
    return win32::ToolPath(directory);
}

bool MakeOrFindDirectory(const std::string& path, unsigned)
{
    if (::CreateDirectoryW(win32::WidePath(path).c_str(), nullptr))
        return true;
    const DWORD error = ::GetLastError();
    if (error != ERROR_ALREADY_EXISTS && error != ERROR_ACCESS_DENIED) {
        win32::SetErrnoFromLastError();
        return false;
    }
    // A drive's root answers "access denied" and is there all the same.
    if (IsDirectory(path))
        return true;
    errno = error == ERROR_ALREADY_EXISTS ? ENOTDIR : EACCES;
    return false;
}

std::optional<std::string> ParentDirectory(const std::string& directory)
{
    // A bare name and a drive's working directory ("C:") have none.
    const std::size_t start = NameStart(directory);
    if (start == 0 || (start == 2 && directory[1] == ':'))
        return std::nullopt;
    // The parent keeps its separator when it is a root ("/", "C:/").
    const bool root = start == 1 || (start == 3 && directory[1] == ':');
    return directory.substr(0, root ? start : start - 1);
}

}  // namespace system

}  // namespace zelkor
