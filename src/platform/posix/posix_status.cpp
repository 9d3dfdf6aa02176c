#include "platform/posix/posix_status.h"

#include <fcntl.h>
#include <linux/magic.h>
#include <sys/statfs.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <limits>
#include <mutex>
#include <utility>
#include <vector>

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

// The mount ID that the kernel never hands out twice (Linux 6.8 on); older
// kernels give one that a later mount may reuse (STATX_MNT_ID).
constexpr unsigned MountIdUnique = 0x4000;

struct FileSystem {
    std::uint64_t id = 0;
    bool keepsChangeTime = false;
};

// The file systems known to keep a true change time: one that every write
// through the system moves and that no program can set or an image bring
// along. Read-only images (squashfs, erofs, iso9660) carry their times in the
// image, FAT keeps none, and network file systems take the server's word.
bool KeepsChangeTime(decltype(statfs::f_type) type)
{
    switch (static_cast<unsigned long>(type)) {
    case EXT4_SUPER_MAGIC:  // ext2 and ext3 too
    case XFS_SUPER_MAGIC:
    case BTRFS_SUPER_MAGIC:
    case TMPFS_MAGIC:
        return true;
    default:
        return false;
    }
}

std::optional<FileSystem> FileSystemOf(int fd)
{
    struct statfs info {};
    if (::fstatfs(fd, &info) != 0)
        return std::nullopt;
    std::uint64_t id = 0;
    static_assert(sizeof info.f_fsid == 8);
    for (int i = 0; i < 2; ++i)
        id |= static_cast<std::uint64_t>(static_cast<std::uint32_t>(info.f_fsid.__val[i])) << (32 * i);
    return FileSystem{id, KeepsChangeTime(info.f_type)};
}

// What is known of the file systems under mounts whose IDs are never reused:
// each is asked for once per process, not once per file.
class KnownMounts {
public:
    std::optional<FileSystem> Find(std::uint64_t mount)
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        for (const auto& [id, fileSystem] : known_) {
            if (id == mount)
                return fileSystem;
        }
        return std::nullopt;
    }
    void Add(std::uint64_t mount, FileSystem fileSystem)
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        known_.emplace_back(mount, fileSystem);
    }

private:
    std::mutex mutex_;
    std::vector<std::pair<std::uint64_t, FileSystem>> known_;
};

KnownMounts& Mounts()
{
    static KnownMounts mounts;
    return mounts;
}

// The status statx(2) gives of `path` relative to `directory`; `unique` says
// whether its mount ID is one never reused. Nothing on a kernel or sandbox
// without statx (errno ENOSYS).
std::optional<FileStatus> Statx(int directory, const char* path, int flags, bool& unique)
{
    struct statx info {};
    if (::statx(directory, path, flags | AT_STATX_SYNC_AS_STAT, STATX_BASIC_STATS | STATX_MNT_ID | MountIdUnique,
                &info) != 0)
        return std::nullopt;
    FileStatus status;
    struct stat plain {};
    plain.st_mode = info.stx_mode;
    status = StatusFrom(plain);
    status.size = info.stx_size;
    status.device = static_cast<std::uint64_t>(makedev(info.stx_dev_major, info.stx_dev_minor));
    status.inode = info.stx_ino;
    status.owner = info.stx_uid;
    status.group = info.stx_gid;
    status.modifiedNanoseconds = Nanoseconds(info.stx_mtime.tv_sec, info.stx_mtime.tv_nsec);
    status.changedNanoseconds = Nanoseconds(info.stx_ctime.tv_sec, info.stx_ctime.tv_nsec);
    if ((info.stx_mask & (STATX_MNT_ID | MountIdUnique)) != 0)
        status.mount = info.stx_mnt_id;
    unique = (info.stx_mask & MountIdUnique) != 0;
    return status;
}

void TakeFileSystem(FileStatus& status, const FileSystem& fileSystem)
{
    status.fileSystem = fileSystem.id;
    status.keepsChangeTime = fileSystem.keepsChangeTime;
}

// The status of `fd`, its file system asked for unless its mount is known.
std::optional<FileStatus> StatusWithFileSystem(int fd)
{
    bool unique = false;
    std::optional<FileStatus> status = Statx(fd, "", AT_EMPTY_PATH, unique);
    if (!status)
        return std::nullopt;
    if (const std::optional<FileSystem> known = unique ? Mounts().Find(status->mount) : std::nullopt) {
        TakeFileSystem(*status, *known);
    } else if (const std::optional<FileSystem> fileSystem = FileSystemOf(fd)) {
        TakeFileSystem(*status, *fileSystem);
        if (unique)
            Mounts().Add(status->mount, *fileSystem);
    }
    return status;
}

}  // namespace

std::optional<FileStatus> StatusOfDescriptor(int fd)
{
    if (std::optional<FileStatus> status = StatusWithFileSystem(fd); status || (errno != ENOSYS && errno != EPERM))
        return status;
    struct stat info {};
    if (::fstat(fd, &info) != 0)
        return std::nullopt;
    return StatusFrom(info);
}

std::optional<FileStatus> StatusOfPath(const char* path, bool follow)
{
    const int noFollow = follow ? 0 : AT_SYMLINK_NOFOLLOW;
    bool unique = false;
    std::optional<FileStatus> status = Statx(AT_FDCWD, path, noFollow, unique);
    if (!status) {
        if (errno != ENOSYS && errno != EPERM)
            return std::nullopt;
        struct stat info {};
        if ((follow ? ::stat(path, &info) : ::lstat(path, &info)) != 0)
            return std::nullopt;
        return StatusFrom(info);
    }
    if (const std::optional<FileSystem> known = unique ? Mounts().Find(status->mount) : std::nullopt) {
        TakeFileSystem(*status, *known);
        return status;
    }
    // The first file of a mount: its file system is asked for through a handle
    // on the file itself, so that both answers are about the same file even
    // when the path is switched meanwhile.
    const int fd = ::open(path, O_PATH | O_CLOEXEC | (follow ? 0 : O_NOFOLLOW));
    if (fd < 0)
        return status;
    const int kept = errno;
    std::optional<FileStatus> same = StatusWithFileSystem(fd);
    ::close(fd);
    errno = kept;
    return same ? same : status;
}

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
