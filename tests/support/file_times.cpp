#include "support/file_times.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

namespace zelkor::testing {

namespace {

constexpr std::int64_t Billion = 1'000'000'000;

}  // namespace

FileTimes TimesOf(const std::filesystem::path& path)
{
    struct stat info {};
    EXPECT_EQ(::stat(path.c_str(), &info), 0) << path;
    return {info.st_mtim.tv_sec * Billion + info.st_mtim.tv_nsec, info.st_ctim.tv_sec * Billion + info.st_ctim.tv_nsec};
}

void SetModified(const std::filesystem::path& path, std::int64_t modified)
{
    const timespec times[2] = {{modified / Billion, modified % Billion}, {modified / Billion, modified % Billion}};
    EXPECT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0) << path;
}

std::uint64_t InodeOf(const std::filesystem::path& path)
{
    struct stat info {};
    EXPECT_EQ(::stat(path.c_str(), &info), 0) << path;
    return info.st_ino;
}

}  // namespace zelkor::testing
