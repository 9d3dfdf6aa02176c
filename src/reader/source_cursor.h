#pragma once

#include <cstddef>
#include <cstdint>
#include <memory_resource>
#include <optional>
#include <vector>

#include "reader/byte_source.h"

namespace zelkor {

// Reads a source front to back through a buffer of its own, so that a run of
// small records costs one read per buffer rather than one per record. Reads by
// position, so several cursors may share one source, which must outlive them.
// A skip past the buffer's end starts the next read small, so that records far
// apart (entries with their stored bytes between them) do not each cost a whole
// buffer. Used by one thread at a time.
class SourceCursor {
public:
    SourceCursor(const ByteSource& source, std::uint64_t position, std::size_t bufferSize,
                 std::pmr::memory_resource* memory = std::pmr::get_default_resource());

    std::uint64_t Position() const { return position_; }

    // Reads `size` bytes at the position and moves past them. Returns how many
    // were read, fewer than `size` only at the end of the source; nothing on a
    // read error.
    std::optional<std::size_t> Read(void* data, std::size_t size);

    // Moves the position forward by `count` bytes without reading them.
    void Skip(std::uint64_t count) { position_ += count; }

private:
    const ByteSource* source_;
    std::uint64_t position_;
    std::pmr::vector<std::uint8_t> buffer_;
    std::uint64_t bufferStart_ = 0;  // the source offset of buffer_[0]
    std::size_t bufferFill_ = 0;     // valid bytes in buffer_
};

}  // namespace zelkor
