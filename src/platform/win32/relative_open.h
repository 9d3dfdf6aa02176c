#pragma once

#include <windows.h>

#include <string>

namespace zelkor::win32 {

// What an open asks of the system, in CreateFileW's terms (access, sharing,
// disposition, FILE_FLAG_* flags; FILE_ATTRIBUTE_DIRECTORY among the flags
// makes a directory, or opens only one), whether it goes by path or by a name
// relative to an open directory.
struct OpenRequest {
    DWORD access = 0;
    DWORD share = 0;
    DWORD disposition = OPEN_EXISTING;
    DWORD flags = 0;
};

// Opens `name` (one component, UTF-16; empty for the directory itself) in the
// open directory `directory`, the way openat does on POSIX systems: through
// NtCreateFile with the directory as the root, so that nothing of the
// directory's own path is looked up again. INVALID_HANDLE_VALUE, with errno
// set, on failure.
HANDLE OpenRelative(HANDLE directory, const std::wstring& name, const OpenRequest& request);

// Renames the open file or directory `entry` to `name` in the open directory
// `directory`, replacing what is there only with `replace`; removes the open
// `entry` (it goes when its last handle closes). Both through
// NtSetInformationFile, which takes the new name relative to a directory.
// False, with errno set, on failure.
bool RenameRelative(HANDLE entry, HANDLE directory, const std::wstring& name, bool replace);
bool MarkForDeletion(HANDLE entry);

// Sets errno for an NTSTATUS code, as SetErrnoFromLastError does for
// GetLastError's codes.
void SetErrnoFromStatus(long status);

}  // namespace zelkor::win32
