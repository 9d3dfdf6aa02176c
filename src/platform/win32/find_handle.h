#pragma once

#include <windows.h>

#include <functional>
#include <string>

namespace zelkor::win32 {

// Calls `visit` with every entry of the directory at `path` (as the tools
// write paths), "." and ".." included, in the order the file system gives them,
// through FindFirstFileExW and FindNextFileW. False, with errno set, when the
// directory cannot be listed to its end. The search handle is closed on every
// way out.
bool ForEachEntry(const std::string& path, const std::function<void(const WIN32_FIND_DATAW&)>& visit);

// Whether an entry as listed is a symbolic link or a junction.
bool IsLinkEntry(const WIN32_FIND_DATAW& entry);

}  // namespace zelkor::win32
