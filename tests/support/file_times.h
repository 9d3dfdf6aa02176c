#pragma once

#include <cstdint>
#include <filesystem>

namespace zelkor::testing {

// A file's modification and change times, in nanoseconds since the epoch.
struct FileTimes {
    std::int64_t modified = 0;
    std::int64_t changed = 0;
};

// The times of the file at `path` (links followed); fails the test when they
// cannot be had.
FileTimes TimesOf(const std::filesystem::path& path);

// Sets the access and modification times of `path` to `modified` (utimensat),
// as a program that keeps file times would; the change time moves to now, as
// only the system can set it.
void SetModified(const std::filesystem::path& path, std::int64_t modified);

// The inode number of the file at `path` (links followed): whether a file is
// still the one it was.
std::uint64_t InodeOf(const std::filesystem::path& path);

}  // namespace zelkor::testing
