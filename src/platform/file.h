#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <span>
#include <optional>
#include <string>

namespace zelkor {

// What fstat(2) tells of an open file, as far as the tools use it.
struct FileStatus {
    std::uint64_t size = 0;
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    unsigned mode = 0;  // type and permission bits, as st_mode
    unsigned owner = 0;
    unsigned group = 0;
    std::int64_t modified = 0;  // last modification, in seconds since the epoch

    bool IsRegular() const;
    bool IsDirectory() const;
    // The same file as `other` (same device and inode).
    bool SameFileAs(const FileStatus& other) const { return device == other.device && inode == other.inode; }
};

// An open file descriptor and the path it was opened with (for messages). Closes
// the descriptor on destruction. Move-only. Every call retries when a signal
// interrupts it, and reads and writes loop until the whole count is done, so
// callers never see a short transfer that is not an end of file or an error.
// After a failed call, errno tells why.
class File {
public:
    File() = default;
    ~File();
    File(File&& other) noexcept;
    File& operator=(File&& other) noexcept;
    File(const File&) = delete;
    File& operator=(const File&) = delete;

    // Opens `path` with open(2) `flags` (O_CLOEXEC is added) and `mode` for a
    // file that O_CREAT creates. The result is not open when the call failed,
    // and for a path holding a NUL byte, which no file has (EINVAL).
    static File Open(const std::string& path, int flags, unsigned mode = 0666);

    // Opens `name` relative to the open directory `directory` with openat(2), so
    // that the directory's own path is not looked up again. Path() is the
    // directory's path, a slash and `name`.
    static File OpenAt(const File& directory, const std::string& name, int flags, unsigned mode = 0666);
    // The same with `path` as Path(), for callers that keep the path for
    // messages themselves: walking a deep tree, building each level's path
    // would copy the whole path once per level.
    static File OpenAt(const File& directory, const std::string& name, int flags, unsigned mode,
                       std::string path);

    // Opens `path` as Open does and keeps it only when it is a regular file; a
    // directory, FIFO, device or socket gives a file that is not open. The open
    // does not block (O_NONBLOCK is added), so a FIFO without a peer is refused
    // at once; on a regular file the flag changes nothing.
    // With `status`, the file's status (taken for the check) is stored there.
    static File OpenRegular(const std::string& path, int flags, FileStatus* status = nullptr);
    // The same, relative to an open directory, as OpenAt.
    static File OpenRegularAt(const File& directory, const std::string& name, int flags,
                              FileStatus* status = nullptr);

    bool IsOpen() const { return fd_ >= 0; }
    int Descriptor() const { return fd_; }
    const std::string& Path() const { return path_; }

    // Writes all `size` bytes at the current position. False on any failure.
    bool WriteAll(const void* data, std::size_t size);
    // Writes the pieces one after the other, as one writev(2) where it can.
    bool WriteAll(std::initializer_list<std::span<const std::uint8_t>> pieces);

    // Reads up to `size` bytes, stopping early only at the end of the file.
    // Returns the number read, or nothing on a read error.
    std::optional<std::size_t> ReadUpTo(void* data, std::size_t size);

    // Reads up to `size` bytes at `offset` without moving the position, so that
    // several threads may read one file; stops early only at the end of the file.
    // Returns the number read, or nothing on a read error.
    std::optional<std::size_t> ReadAt(std::uint64_t offset, void* data, std::size_t size) const;

    // The file's type, size and identity, or nothing when fstat fails.
    std::optional<FileStatus> Status() const;

    // Takes an exclusive lock on the file (flock), released when it is closed.
    // With `wait`, waits for another holder to let go; without, fails at once
    // (errno EWOULDBLOCK when another holds it).
    bool Lock(bool wait);
    // The same, waiting at most `limit` for another holder to let go.
    enum class Locking { Locked, Busy, Failed };
    Locking LockWithin(std::chrono::milliseconds limit);

    // Sets the file's modification time to now.
    bool Touch();

    // Asks the system to start writing `length` bytes at `offset` to the disk
    // now, without waiting for it, so that a later flush has less to wait for.
    void StartWriteback(std::uint64_t offset, std::uint64_t length) const;

    // The current position, or nothing when it cannot be asked.
    std::optional<std::uint64_t> Position() const;

    // Cuts the file to zero length. False on failure.
    bool Truncate();

    // Closes the descriptor; false when close reported an error (the descriptor
    // is released either way). Closing a file that is not open is a success.
    bool Close();

private:
    File(int fd, std::string path) : fd_(fd), path_(std::move(path)) {}

    int fd_ = -1;
    std::string path_;
};

}  // namespace zelkor
