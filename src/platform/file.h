#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace zelkor {

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
    // file that O_CREAT creates. The result is not open when the call failed.
    static File Open(const std::string& path, int flags, unsigned mode = 0666);

    // Opens `name` relative to the open directory `directory` with openat(2), so
    // that the directory's own path is not looked up again. Path() is the
    // directory's path, a slash and `name`.
    static File OpenAt(const File& directory, const std::string& name, int flags, unsigned mode = 0666);

    bool IsOpen() const { return fd_ >= 0; }
    int Descriptor() const { return fd_; }
    const std::string& Path() const { return path_; }

    // Writes all `size` bytes at the current position. False on any failure.
    bool WriteAll(const void* data, std::size_t size);

    // Reads up to `size` bytes, stopping early only at the end of the file.
    // Returns the number read, or nothing on a read error.
    std::optional<std::size_t> ReadUpTo(void* data, std::size_t size);

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
