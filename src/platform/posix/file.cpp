#include "platform/file.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <thread>
#include <utility>

#include "platform/posix/posix_status.h"

namespace zelkor {

namespace {

int SystemFlags(OpenFlags flags)
{
    int system = O_CLOEXEC;
    if (Has(flags, OpenFlags::ReadWrite))
        system |= O_RDWR;
    else if (Has(flags, OpenFlags::Write))
        system |= O_WRONLY;
    else
        system |= O_RDONLY;
    if (Has(flags, OpenFlags::Create))
        system |= O_CREAT;
    if (Has(flags, OpenFlags::Exclusive))
        system |= O_EXCL;
    if (Has(flags, OpenFlags::Truncate))
        system |= O_TRUNC;
    if (Has(flags, OpenFlags::NoFollow))
        system |= O_NOFOLLOW;
    if (Has(flags, OpenFlags::Directory))
        system |= O_DIRECTORY;
    if (Has(flags, OpenFlags::NonBlocking))
        system |= O_NONBLOCK;
    return system;
}

int Descriptor(const File& file)
{
    return static_cast<int>(file.NativeHandle());
}

// Repeats `call` while a signal interrupts it; gives its last result.
template <typename Call>
auto Retrying(Call call)
{
    auto rc = call();
    while (rc < 0 && errno == EINTR)
        rc = call();
    return rc;
}

}  // namespace

File::~File()
{
    Close();
}

File::File(File&& other) noexcept
    : handle_(std::exchange(other.handle_, NoHandle)), path_(std::move(other.path_))
{
}

File& File::operator=(File&& other) noexcept
{
    if (this != &other) {
        Close();
        handle_ = std::exchange(other.handle_, NoHandle);
        path_ = std::move(other.path_);
    }
    return *this;
}

File File::Open(const std::string& path, OpenFlags flags, unsigned permissions)
{
    // The system would take the path only up to its first NUL, which names
    // another file.
    if (path.find('\0') != std::string::npos) {
        errno = EINVAL;
        return File(NoHandle, path);
    }
    const int fd = Retrying([&] { return ::open(path.c_str(), SystemFlags(flags), static_cast<mode_t>(permissions)); });
    return File(fd, path);
}

File File::OpenAt(const File& directory, const std::string& name, OpenFlags flags, unsigned permissions)
{
    return OpenAt(directory, name, flags, permissions, directory.path_ + "/" + name);
}

File File::OpenAt(const File& directory, const std::string& name, OpenFlags flags, unsigned permissions,
                  std::string path)
{
    if (name.find('\0') != std::string::npos) {
        errno = EINVAL;
        return File(NoHandle, std::move(path));
    }
    const int fd = Retrying([&] {
        return ::openat(Descriptor(directory), name.c_str(), SystemFlags(flags), static_cast<mode_t>(permissions));
    });
    return File(fd, std::move(path));
}

namespace {

// Keeps `file` only when it is a regular file; its status goes to `out`.
File OnlyRegular(File file, FileStatus* out)
{
    if (!file.IsOpen())
        return file;
    const std::optional<FileStatus> status = file.Status();
    if (!status || !status->IsRegular()) {
        errno = status ? EINVAL : errno;
        return File();
    }
    if (out)
        *out = *status;
    return file;
}

}  // namespace

File File::OpenRegular(const std::string& path, OpenFlags flags, FileStatus* status)
{
    return OnlyRegular(Open(path, flags | OpenFlags::NonBlocking), status);
}

File File::OpenRegularAt(const File& directory, const std::string& name, OpenFlags flags, FileStatus* status,
                         unsigned permissions)
{
    return OnlyRegular(OpenAt(directory, name, flags | OpenFlags::NonBlocking, permissions), status);
}

bool File::WriteAll(const void* data, std::size_t size)
{
    return WriteAll({std::span(static_cast<const std::uint8_t*>(data), size)});
}

bool File::WriteAll(std::initializer_list<std::span<const std::uint8_t>> pieces)
{
    constexpr std::size_t MaxPieces = 8;
    iovec vectors[MaxPieces];
    std::size_t count = 0;
    for (const std::span<const std::uint8_t> piece : pieces) {
        if (piece.empty())
            continue;
        if (count == MaxPieces)
            return false;
        vectors[count++] = {const_cast<std::uint8_t*>(piece.data()), piece.size()};
    }
    iovec* next = vectors;
    while (count > 0) {
        const ssize_t written = ::writev(Descriptor(*this), next, static_cast<int>(count));
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (written == 0) {
            errno = ENOSPC;
            return false;
        }
        // Past the pieces written whole, into the one written in part.
        auto left = static_cast<std::size_t>(written);
        while (count > 0 && left >= next->iov_len) {
            left -= next->iov_len;
            ++next;
            --count;
        }
        if (count > 0) {
            next->iov_base = static_cast<std::uint8_t*>(next->iov_base) + left;
            next->iov_len -= left;
        }
    }
    return true;
}

bool File::WriteAt(std::uint64_t offset, const void* data, std::size_t size)
{
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    std::size_t done = 0;
    while (done < size) {
        const ssize_t written =
            ::pwrite(Descriptor(*this), bytes + done, size - done, static_cast<off_t>(offset + done));
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (written == 0) {
            errno = ENOSPC;
            return false;
        }
        done += static_cast<std::size_t>(written);
    }
    return true;
}

namespace {

// Calls `read(bytes, count, done)` until `size` bytes are in or it reports the
// end of the file (0); retries when a signal interrupts it.
template <typename Read>
std::optional<std::size_t> ReadLoop(void* data, std::size_t size, Read read)
{
    auto* bytes = static_cast<unsigned char*>(data);
    std::size_t total = 0;
    while (total < size) {
        const ssize_t got = read(bytes + total, size - total, total);
        if (got < 0) {
            if (errno == EINTR)
                continue;
            return std::nullopt;
        }
        if (got == 0)
            break;
        total += static_cast<std::size_t>(got);
    }
    return total;
}

}  // namespace

std::optional<std::size_t> File::ReadUpTo(void* data, std::size_t size)
{
    return ReadLoop(data, size, [this](unsigned char* to, std::size_t count, std::size_t) {
        return ::read(Descriptor(*this), to, count);
    });
}

std::optional<std::size_t> File::ReadAt(std::uint64_t offset, void* data, std::size_t size) const
{
    return ReadLoop(data, size, [this, offset](unsigned char* to, std::size_t count, std::size_t done) {
        return ::pread(Descriptor(*this), to, count, static_cast<off_t>(offset + done));
    });
}

std::optional<std::size_t> File::ReadAt(std::uint64_t offset,
                                        std::initializer_list<std::span<std::uint8_t>> pieces) const
{
    constexpr std::size_t MaxPieces = 8;
    iovec vectors[MaxPieces];
    std::size_t count = 0;
    for (const std::span<std::uint8_t> piece : pieces) {
        if (piece.empty())
            continue;
        if (count == MaxPieces) {
            errno = EINVAL;
            return std::nullopt;
        }
        vectors[count++] = {piece.data(), piece.size()};
    }
    iovec* next = vectors;
    std::size_t total = 0;
    while (count > 0) {
        const ssize_t got =
            ::preadv(Descriptor(*this), next, static_cast<int>(count), static_cast<off_t>(offset + total));
        if (got < 0) {
            if (errno == EINTR)
                continue;
            return std::nullopt;
        }
        if (got == 0)
            break;
        total += static_cast<std::size_t>(got);
        // Past the pieces read whole, into the one read in part.
        auto left = static_cast<std::size_t>(got);
        while (count > 0 && left >= next->iov_len) {
            left -= next->iov_len;
            ++next;
            --count;
        }
        if (count > 0) {
            next->iov_base = static_cast<std::uint8_t*>(next->iov_base) + left;
            next->iov_len -= left;
        }
    }
    return total;
}

bool File::Lock(bool wait)
{
    return Retrying([&] { return ::flock(Descriptor(*this), LOCK_EX | (wait ? 0 : LOCK_NB)); }) == 0;
}

File::Locking File::LockWithin(std::chrono::milliseconds limit)
{
    // flock has no timeout of its own: try, and try again a little later.
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
        if (Lock(false))
            return Locking::Locked;
        if (errno != EWOULDBLOCK)
            return Locking::Failed;
        const auto now = std::chrono::steady_clock::now();
        if (now >= deadline)
            return Locking::Busy;
        std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(deadline - now,
                                                                                 std::chrono::milliseconds(10)));
    }
}

void File::StartWriteback(std::uint64_t offset, std::uint64_t length) const
{
#ifdef SYNC_FILE_RANGE_WRITE
    // Only a hint: when it fails, the flush does all the work.
    (void)::sync_file_range(Descriptor(*this), static_cast<off_t>(offset), static_cast<off_t>(length),
                            SYNC_FILE_RANGE_WRITE);
#else
    (void)offset;
    (void)length;
#endif
}

bool File::Sync() const
{
    return Retrying([&] { return ::fsync(Descriptor(*this)); }) == 0;
}

bool File::Touch() const
{
    return ::futimens(Descriptor(*this), nullptr) == 0;
}

void File::TakeAttributesOf(const FileStatus& status) const
{
    const int fd = Descriptor(*this);
    if (::fchown(fd, static_cast<uid_t>(status.owner), static_cast<gid_t>(status.group)) != 0)
        (void)::fchown(fd, static_cast<uid_t>(-1), static_cast<gid_t>(status.group));
    (void)::fchmod(fd, static_cast<mode_t>(status.permissions & 07777));
}

std::optional<FileStatus> File::Status() const
{
    return posix::StatusOfDescriptor(Descriptor(*this));
}

std::optional<std::uint64_t> File::Position() const
{
    const off_t position = ::lseek(Descriptor(*this), 0, SEEK_CUR);
    if (position < 0)
        return std::nullopt;
    return static_cast<std::uint64_t>(position);
}

bool File::Seek(std::uint64_t offset)
{
    return ::lseek(Descriptor(*this), static_cast<off_t>(offset), SEEK_SET) >= 0;
}

bool File::Truncate(std::uint64_t length)
{
    return Retrying([&] { return ::ftruncate(Descriptor(*this), static_cast<off_t>(length)); }) == 0;
}

namespace {

// Whether `name` can be handed to the system whole.
bool Passable(const std::string& name)
{
    if (name.find('\0') == std::string::npos)
        return true;
    errno = EINVAL;
    return false;
}

}  // namespace

std::optional<FileStatus> File::StatusAt(const std::string& name) const
{
    struct stat info {};
    if (!Passable(name) || ::fstatat(Descriptor(*this), name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0)
        return std::nullopt;
    return posix::StatusFrom(info);
}

bool File::RemoveAt(const std::string& name) const
{
    return Passable(name) && ::unlinkat(Descriptor(*this), name.c_str(), 0) == 0;
}

bool File::MakeDirectoryAt(const std::string& name, unsigned permissions) const
{
    return Passable(name) && ::mkdirat(Descriptor(*this), name.c_str(), static_cast<mode_t>(permissions)) == 0;
}

bool File::RenameAt(const std::string& from, const std::string& to, bool replace) const
{
    if (!Passable(from) || !Passable(to))
        return false;
    const int fd = Descriptor(*this);
    if (replace)
        return ::renameat(fd, from.c_str(), fd, to.c_str()) == 0;
    if (::renameat2(fd, from.c_str(), fd, to.c_str(), RENAME_NOREPLACE) == 0)
        return true;
    // Where the file system cannot rename so, a hard link does the same.
    if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP)
        return false;
    if (::linkat(fd, from.c_str(), fd, to.c_str(), 0) != 0)
        return false;
    ::unlinkat(fd, from.c_str(), 0);
    return true;
}

bool File::Close()
{
    if (handle_ == NoHandle)
        return true;
    // On Linux the descriptor is gone after close even when it reports EINTR, so
    // close is never retried.
    return ::close(static_cast<int>(std::exchange(handle_, NoHandle))) == 0;
}

}  // namespace zelkor
