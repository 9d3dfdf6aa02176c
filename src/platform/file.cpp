#include "platform/file.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <thread>
#include <utility>

namespace zelkor {

File::~File()
{
    Close();
}

File::File(File&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), path_(std::move(other.path_))
{
}

File& File::operator=(File&& other) noexcept
{
    if (this != &other) {
        Close();
        fd_ = std::exchange(other.fd_, -1);
        path_ = std::move(other.path_);
    }
    return *this;
}

File File::Open(const std::string& path, int flags, unsigned mode)
{
    // The system would take the path only up to its first NUL, which names
    // another file.
    if (path.find('\0') != std::string::npos) {
        errno = EINVAL;
        return File(-1, path);
    }
    int fd;
    do {
        fd = ::open(path.c_str(), flags | O_CLOEXEC, static_cast<mode_t>(mode));
    } while (fd < 0 && errno == EINTR);
    return File(fd, path);
}

File File::OpenAt(const File& directory, const std::string& name, int flags, unsigned mode)
{
    return OpenAt(directory, name, flags, mode, directory.path_ + "/" + name);
}

File File::OpenAt(const File& directory, const std::string& name, int flags, unsigned mode, std::string path)
{
    if (name.find('\0') != std::string::npos) {
        errno = EINVAL;
        return File(-1, std::move(path));
    }
    int fd;
    do {
        fd = ::openat(directory.fd_, name.c_str(), flags | O_CLOEXEC, static_cast<mode_t>(mode));
    } while (fd < 0 && errno == EINTR);
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

File File::OpenRegular(const std::string& path, int flags, FileStatus* status)
{
    return OnlyRegular(Open(path, flags | O_NONBLOCK), status);
}

File File::OpenRegularAt(const File& directory, const std::string& name, int flags, FileStatus* status)
{
    return OnlyRegular(OpenAt(directory, name, flags | O_NONBLOCK), status);
}

bool FileStatus::IsRegular() const
{
    return S_ISREG(static_cast<mode_t>(mode));
}

bool FileStatus::IsDirectory() const
{
    return S_ISDIR(static_cast<mode_t>(mode));
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
        const ssize_t written = ::writev(fd_, next, static_cast<int>(count));
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
        return ::read(fd_, to, count);
    });
}

std::optional<std::size_t> File::ReadAt(std::uint64_t offset, void* data, std::size_t size) const
{
    return ReadLoop(data, size, [this, offset](unsigned char* to, std::size_t count, std::size_t done) {
        return ::pread(fd_, to, count, static_cast<off_t>(offset + done));
    });
}

bool File::Lock(bool wait)
{
    int rc;
    do {
        rc = ::flock(fd_, LOCK_EX | (wait ? 0 : LOCK_NB));
    } while (rc != 0 && errno == EINTR);
    return rc == 0;
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

bool File::Touch()
{
    return ::futimens(fd_, nullptr) == 0;
}

void File::StartWriteback(std::uint64_t offset, std::uint64_t length) const
{
#ifdef SYNC_FILE_RANGE_WRITE
    // Only a hint: when it fails, the flush does all the work.
    (void)::sync_file_range(fd_, static_cast<off_t>(offset), static_cast<off_t>(length), SYNC_FILE_RANGE_WRITE);
#else
    (void)offset;
    (void)length;
#endif
}

std::optional<FileStatus> File::Status() const
{
    struct stat info {};
    if (::fstat(fd_, &info) != 0)
        return std::nullopt;
    FileStatus status;
    status.size = static_cast<std::uint64_t>(info.st_size);
    status.device = static_cast<std::uint64_t>(info.st_dev);
    status.inode = static_cast<std::uint64_t>(info.st_ino);
    status.mode = static_cast<unsigned>(info.st_mode);
    status.owner = static_cast<unsigned>(info.st_uid);
    status.group = static_cast<unsigned>(info.st_gid);
    status.modified = static_cast<std::int64_t>(info.st_mtim.tv_sec);
    return status;
}

std::optional<std::uint64_t> File::Position() const
{
    off_t position = ::lseek(fd_, 0, SEEK_CUR);
    if (position < 0)
        return std::nullopt;
    return static_cast<std::uint64_t>(position);
}

bool File::Truncate()
{
    int rc;
    do {
        rc = ::ftruncate(fd_, 0);
    } while (rc != 0 && errno == EINTR);
    return rc == 0;
}

bool File::Close()
{
    if (fd_ < 0)
        return true;
    // On Linux the descriptor is gone after close even when it reports EINTR, so
    // close is never retried.
    int rc = ::close(std::exchange(fd_, -1));
    return rc == 0;
}

}  // namespace zelkor
