#include "platform/file.h"

#include <cerrno>
#include <thread>
#include <utility>

#include "platform/system.h"

namespace zelkor {

// What is the same on every system; each system's calls are in
// <system>/file.cpp.

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

File File::OpenAt(const File& directory, const std::string& name, OpenFlags flags, unsigned permissions)
{
    return OpenAt(directory, name, flags, permissions, directory.path_ + "/" + name);
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

std::optional<std::size_t> File::ReadAt(std::uint64_t offset, void* data, std::size_t size) const
{
    return ReadAt(offset, {std::span(static_cast<std::uint8_t*>(data), size)});
}

File::Locking File::LockWithin(std::chrono::milliseconds limit)
{
    // Neither system's lock waits for a limited time: try, and try again a
    // little later.
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

bool File::Close()
{
    if (handle_ == NoHandle)
        return true;
    return system::CloseFile(std::exchange(handle_, NoHandle));
}

}  // namespace zelkor
