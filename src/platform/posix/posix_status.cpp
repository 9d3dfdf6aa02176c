#include "platform/posix/posix_status.h"

#include <limits>

namespace zelkor::posix {

namespace {

// Times past the year 2262 or before 1677, which anyone may give a file, are
// held at the ends of the range.
std::int64_t Nanoseconds(std::int64_t seconds, std::int64_t nanoseconds)
{
    constexpr std::int64_t PerSecond = 1'000'000'000;
    constexpr std::int64_t Most = std::numeric_limits<std::int64_t>::max();
    constexpr std::int64_t Least = std::numeric_limits<std::int64_t>::min();
    if (seconds >= Most / PerSecond)
        return Most;
    if (seconds <= Least / PerSecond)
        return Least;
    return seconds * PerSecond + nanoseconds;
}

std::int64_t Nanoseconds(const timespec& time)
{
    return Nanoseconds(static_cast<std::int64_t>(time.tv_sec), static_cast<std::int64_t>(time.tv_nsec));
}

FileKind KindOf(mode_t mode)
{
    if (S_ISREG(mode))
        return FileKind::Regular;
    if (S_ISDIR(mode))
        return FileKind::Directory;
    if (S_ISLNK(mode))
        return FileKind::Link;
    return FileKind::Other;
}

}  // namespace

FileStatus StatusFrom(const struct stat& info)
{
    FileStatus status;
    status.kind = KindOf(info.st_mode);
    status.permissions = static_cast<unsigned>(info.st_mode & 07777);
    status.size = static_cast<std::uint64_t>(info.st_size);
    status.device = static_cast<std::uint64_t>(info.st_dev);
    status.inode = static_cast<std::uint64_t>(info.st_ino);
    status.owner = static_cast<unsigned>(info.st_uid);
    status.group = static_cast<unsigned>(info.st_gid);
    status.modifiedNanoseconds = Nanoseconds(info.st_mtim);
    status.changedNanoseconds = Nanoseconds(info.st_ctim);
    return status;
}

}  // namespace zelkor::posix
