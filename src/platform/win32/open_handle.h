#pragma once

#include <windows.h>

#include <string>

#include "platform/file.h"

namespace zelkor::win32 {

// Opens `path` the way File::Open promises for `flags`, as CreateFileW takes
// it: with the sharing that suits what the file is opened for, links not
// followed with NoFollow, a directory only with Directory, none to be written.
// The handle is not inherited by programs the process starts (no
// SECURITY_ATTRIBUTES). INVALID_HANDLE_VALUE, with errno set, on failure.
HANDLE OpenHandle(const std::string& path, OpenFlags flags);

// The same for `name` in the open directory `directory` (a name of "." is the
// directory itself), as File::OpenAt promises.
HANDLE OpenHandleAt(HANDLE directory, const std::string& name, OpenFlags flags);

}  // namespace zelkor::win32
