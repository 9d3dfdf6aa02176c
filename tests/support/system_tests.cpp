#include "support/system_tests.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace zelkor::testing {

bool MakeSymlink(const std::filesystem::path& target, const std::filesystem::path& link, bool directory)
{
#ifdef _WIN32
    const DWORD flags = (directory ? SYMBOLIC_LINK_FLAG_DIRECTORY : 0) | SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE;
    const std::filesystem::path native = std::filesystem::path(target).make_preferred();
    if (!::CreateSymbolicLinkW(link.c_str(), native.c_str(), flags))
        return false;
    const DWORD attributes = ::GetFileAttributesW(link.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
#else
    if (directory)
        std::filesystem::create_directory_symlink(target, link);
    else
        std::filesystem::create_symlink(target, link);
    return true;
#endif
}

bool RunningUnderWine()
{
#ifdef _WIN32
    const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
    return ntdll && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
#else
    return false;
#endif
}

ExclusiveHold::ExclusiveHold(const std::filesystem::path& path)
{
#ifdef _WIN32
    handle_ = ::CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle_ == INVALID_HANDLE_VALUE)
        handle_ = nullptr;
    EXPECT_NE(handle_, nullptr) << "cannot hold " << path.string();
#else
    static_cast<void>(path);
#endif
}

ExclusiveHold::~ExclusiveHold()
{
#ifdef _WIN32
    if (handle_)
        ::CloseHandle(handle_);
#endif
}

}  // namespace zelkor::testing
