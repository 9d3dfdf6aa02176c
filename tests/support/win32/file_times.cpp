// File times on Windows: read through the platform layer, set with SetFileTime.
#include "support/file_times.h"

#include <windows.h>

#include <gtest/gtest.h>

#include "platform/file_system.h"

namespace zelkor::testing {

FileTimes TimesOf(const std::filesystem::path& path)
{
    const std::optional<FileStatus> status = StatusOf(path.string());
    EXPECT_TRUE(status) << path;
    return status ? FileTimes{status->modifiedNanoseconds, status->changedNanoseconds} : FileTimes{};
}

void SetModified(const std::filesystem::path& path, std::int64_t modified)
{
    // 100 ns steps since 1601; the change time moves to now, as on POSIX systems.
    constexpr std::int64_t EpochDifference = 116444736000000000;
    const auto ticks = static_cast<std::uint64_t>(modified / 100 + EpochDifference);
    const FILETIME time{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
    const HANDLE file = ::CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE) << path;
    EXPECT_TRUE(::SetFileTime(file, nullptr, &time, &time)) << path;
    ::CloseHandle(file);
}

std::uint64_t InodeOf(const std::filesystem::path& path)
{
    const std::optional<FileStatus> status = StatusOf(path.string());
    EXPECT_TRUE(status) << path;
    return status ? status->inode : 0;
}

}  // namespace zelkor::testing
