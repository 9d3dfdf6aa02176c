#include "platform/file.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <utility>

#include "platform/posix/posix_status.h"
#include "platform/system.h"

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

// Moves past the first `done` bytes of the `count` pieces at `next`: past the
// pieces transferred whole, into the one transferred in part.
void Advance(iovec*& next, std::size_t& count, std::size_t done)
{
    while (count > 0 && done >= next->iov_len) {
        done -= next->iov_len;
        ++next;
        --count;
    }
    if (count > 0) {
        next->iov_base = static_cast<std::uint8_t*>(next->iov_base) + done;
        next->iov_len -= done;
    }
}

}  // namespace

File File::Open(const std::string& path, OpenFlags flags, unsigned permissions)
{
    // The system would take the path only up to its first NUL, which names
    // another file.
    if (!system::Passable(path))
        return File(NoHandle, path);
    const int fd = Retrying([&] { return ::open(path.c_str(), SystemFlags(flags), static_cast<mode_t>(permissions)); });
    return File(fd, path);
}

File File::OpenAt(const File& directory, const std::string& name, OpenFlags flags, unsigned permissions,
                  std::string path)
{
    if (!system::Passable(name))
        return File(NoHandle, std::move(path));
    const int fd = Retrying([&] {
        return ::openat(Descriptor(directory), name.c_str(), SystemFlags(flags), static_cast<mode_t>(permissions));
    });
    return File(fd, std::move(path));
}

bool File::WriteAll(std::initializer_list<std::span<const std::uint8_t>> pieces)
{
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
        Advance(next, count, static_cast<std::size_t>(written));
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

std::optional<std::size_t> File::ReadUpTo(void* data, std::size_t size)
{
    auto* bytes = static_cast<unsigned char*>(data);
    std::size_t total = 0;
    while (total < size) {
        const ssize_t got = ::read(Descriptor(*this), bytes + total, size - total);
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

std::optional<std::size_t> File::ReadAt(std::uint64_t offset,
                                        std::initializer_list<std::span<std::uint8_t>> pieces) const
{
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
        Advance(next, count, static_cast<std::size_t>(got));
    }
    return total;
}

bool File::Lock(bool wait)
{
    return Retrying([&] { return ::flock(Descriptor(*this), LOCK_EX | (wait ? 0 : LOCK_NB)); }) == 0;
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

namespace system {

bool CloseFile(std::intptr_t handle)
{
    // On Linux the descriptor is gone after close even when it reports EINTR, so
    // close is never retried.
    return ::close(static_cast<int>(handle)) == 0;
}

}  // namespace system

}  // namespace zelkor
