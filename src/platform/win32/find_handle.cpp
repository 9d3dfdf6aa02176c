#include "platform/win32/find_handle.h"

#include <memory>

#include "platform/win32/wide_path.h"
#include "platform/win32/win32_error.h"

namespace zelkor::win32 {

namespace {

struct FindCloser {
    void operator()(HANDLE handle) const { ::FindClose(handle); }
};

}  // namespace

bool ForEachEntry(const std::string& path, const std::function<void(const WIN32_FIND_DATAW&)>& visit)
{
    std::string pattern = path.empty() ? std::string(".") : path;
    if (pattern.back() != '/' && pattern.back() != '\\' && pattern.back() != ':')
        pattern += '/';
    pattern += '*';
    WIN32_FIND_DATAW entry{};
    // The short 8.3 names are never asked for; large fetches save calls.
    const HANDLE first = ::FindFirstFileExW(WidePath(pattern).c_str(), FindExInfoBasic, &entry,
                                            FindExSearchNameMatch, nullptr, FIND_FIRST_EX_LARGE_FETCH);
    if (first == INVALID_HANDLE_VALUE) {
        SetErrnoFromLastError();
        return false;
    }
    const std::unique_ptr<void, FindCloser> search(first);
    do {
        visit(entry);
    } while (::FindNextFileW(first, &entry));
    if (::GetLastError() != ERROR_NO_MORE_FILES) {
        SetErrnoFromLastError();
        return false;
    }
    return true;
}

bool IsLinkEntry(const WIN32_FIND_DATAW& entry)
{
    // For a reparse point, dwReserved0 holds its tag.
    return (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 &&
           (entry.dwReserved0 == IO_REPARSE_TAG_SYMLINK || entry.dwReserved0 == IO_REPARSE_TAG_MOUNT_POINT);
}

}  // namespace zelkor::win32
