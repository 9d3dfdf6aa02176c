#include "platform/win32/relative_open.h"

#include <winternl.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <vector>

#include "platform/win32/win32_error.h"

namespace zelkor::win32 {

namespace {

ULONG Disposition(DWORD disposition)
{
    switch (disposition) {
    case CREATE_NEW:
        return FILE_CREATE;
    case CREATE_ALWAYS:
        return FILE_OVERWRITE_IF;
    case OPEN_ALWAYS:
        return FILE_OPEN_IF;
    case TRUNCATE_EXISTING:
        return FILE_OVERWRITE;
    default:
        return FILE_OPEN;
    }
}

}  // namespace

void SetErrnoFromStatus(long status)
{
    errno = ErrnoFor(::RtlNtStatusToDosError(static_cast<NTSTATUS>(status)));
}

HANDLE OpenRelative(HANDLE directory, const std::wstring& name, const OpenRequest& request)
{
    if (name.size() * sizeof(wchar_t) > 0xFFFE) {
        errno = ENAMETOOLONG;
        return INVALID_HANDLE_VALUE;
    }
    UNICODE_STRING text;
    text.Buffer = const_cast<PWSTR>(name.c_str());
    text.Length = static_cast<USHORT>(name.size() * sizeof(wchar_t));
    text.MaximumLength = text.Length;
    OBJECT_ATTRIBUTES attributes;
    // Case-insensitive, as every Win32 open is.
    InitializeObjectAttributes(&attributes, &text, OBJ_CASE_INSENSITIVE, directory, nullptr);
    ULONG options = FILE_SYNCHRONOUS_IO_NONALERT | FILE_OPEN_FOR_BACKUP_INTENT;
    if ((request.flags & FILE_FLAG_OPEN_REPARSE_POINT) != 0)
        options |= FILE_OPEN_REPARSE_POINT;
    if ((request.flags & FILE_ATTRIBUTE_DIRECTORY) != 0)
        options |= FILE_DIRECTORY_FILE;  // a directory is made, or only one opened
    IO_STATUS_BLOCK io{};
    HANDLE handle = INVALID_HANDLE_VALUE;
    const NTSTATUS status =
        ::NtCreateFile(&handle, request.access | SYNCHRONIZE | FILE_READ_ATTRIBUTES, &attributes, &io, nullptr,
                       FILE_ATTRIBUTE_NORMAL, request.share, Disposition(request.disposition), options, nullptr, 0);
    if (status < 0) {
        SetErrnoFromStatus(status);
        return INVALID_HANDLE_VALUE;
    }
    return handle;
}

namespace {

// FILE_RENAME_INFORMATION and FILE_DISPOSITION_INFORMATION of the native API,
// which the compiler's headers leave to the driver kit.
struct RenameInformation {
    BOOLEAN replaceIfExists;
    HANDLE rootDirectory;
    ULONG fileNameLength;
    WCHAR fileName[1];
};
struct DispositionInformation {
    BOOLEAN deleteFile;
};
constexpr auto FileRenameInformationClass = static_cast<FILE_INFORMATION_CLASS>(10);
constexpr auto FileDispositionInformationClass = static_cast<FILE_INFORMATION_CLASS>(13);

bool Set(HANDLE entry, void* information, std::size_t size, FILE_INFORMATION_CLASS kind)
{
    IO_STATUS_BLOCK io{};
    const NTSTATUS status = ::NtSetInformationFile(entry, &io, information, static_cast<ULONG>(size), kind);
    if (status < 0) {
        SetErrnoFromStatus(status);
        return false;
    }
    return true;
}

}  // namespace

bool RenameRelative(HANDLE entry, HANDLE directory, const std::wstring& name, bool replace)
{
    const std::size_t bytes = name.size() * sizeof(wchar_t);
    std::vector<std::uint8_t> buffer(sizeof(RenameInformation) + bytes);
    auto* information = reinterpret_cast<RenameInformation*>(buffer.data());
    information->replaceIfExists = replace ? TRUE : FALSE;
    information->rootDirectory = directory;
    information->fileNameLength = static_cast<ULONG>(bytes);
    std::memcpy(information->fileName, name.data(), bytes);
    return Set(entry, information, buffer.size(), FileRenameInformationClass);
}

bool MarkForDeletion(HANDLE entry)
{
    DispositionInformation information{TRUE};
    return Set(entry, &information, sizeof information, FileDispositionInformationClass);
}

}  // namespace zelkor::win32
