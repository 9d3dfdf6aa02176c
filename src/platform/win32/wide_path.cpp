#include "platform/win32/wide_path.h"

#include <windows.h>

#include <algorithm>

namespace zelkor::win32 {

namespace {

// Paths from this length on can meet the classic limit (MAX_PATH, less room
// for a name the system appends to a directory's path).
constexpr std::size_t LongPath = MAX_PATH - 12;

bool IsSeparator(wchar_t c)
{
    return c == L'\\' || c == L'/';
}

}  // namespace

std::wstring Wide(std::string_view utf8)
{
    if (utf8.empty())
        return {};
    const int size = static_cast<int>(utf8.size());
    const int length = ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, wide.data(), length);
    return wide;
}

std::string Narrow(std::wstring_view utf16)
{
    if (utf16.empty())
        return {};
    const int size = static_cast<int>(utf16.size());
    const int length = ::WideCharToMultiByte(CP_UTF8, 0, utf16.data(), size, nullptr, 0, nullptr, nullptr);
    std::string narrow(static_cast<std::size_t>(length), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, utf16.data(), size, narrow.data(), length, nullptr, nullptr);
    return narrow;
}

std::wstring WidePath(const std::string& path)
{
    std::wstring wide = Wide(path);
    if (wide.rfind(L"\\\\?\\", 0) == 0)
        return wide;  // already in the system's own form
    std::replace(wide.begin(), wide.end(), L'/', L'\\');
    if (wide.size() < LongPath)
        return wide;
    // The prefix takes only absolute paths, without "." or "..": the system
    // makes them so first.
    const DWORD needed = ::GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
    if (needed == 0)
        return wide;
    std::wstring full(needed, L'\0');
    const DWORD length = ::GetFullPathNameW(wide.c_str(), needed, full.data(), nullptr);
    if (length == 0 || length >= needed)
        return wide;
    full.resize(length);
    if (full.size() >= 2 && IsSeparator(full[0]) && IsSeparator(full[1]))
        return L"\\\\?\\UNC\\" + full.substr(2);
    return L"\\\\?\\" + full;
}

std::string ToolPath(std::wstring_view systemPath)
{
    std::wstring path(systemPath);
    if (path.rfind(L"\\\\?\\UNC\\", 0) == 0)
        path = L"\\\\" + path.substr(8);
    else if (path.rfind(L"\\\\?\\", 0) == 0)
        path = path.substr(4);
    std::replace(path.begin(), path.end(), L'\\', L'/');
    return Narrow(path);
}

}  // namespace zelkor::win32
