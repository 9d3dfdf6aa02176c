#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "platform/file.h"

namespace zelkor {

// Reads a file front to back through a buffer of its own, so that a run of small
// records costs one system call per buffer rather than one per record. Reads by
// position (File::ReadAt), never moving the file's own position, so several
// readers may share one File, which must outlive them. Used by one thread at a
// time.
class SequentialReader {
public:
    SequentialReader(const File& file, std::uint64_t position, std::size_t bufferSize);

    std::uint64_t Position() const { return position_; }

    // Reads `size` bytes at the position and moves past them. Returns how many
    // were read, fewer than `size` only at the end of the file; nothing on a read
    // error (errno tells why).
    std::optional<std::size_t> Read(void* data, std::size_t size);

    // Moves the position forward by `count` bytes without reading them.
    void Skip(std::uint64_t count) { position_ += count; }

private:
    const File* file_;
    std::uint64_t position_;
    std::vector<std::uint8_t> buffer_;
    std::uint64_t bufferStart_ = 0;  // the file offset of buffer_[0]
    std::size_t bufferFill_ = 0;     // valid bytes in buffer_
};

}  // namespace zelkor
