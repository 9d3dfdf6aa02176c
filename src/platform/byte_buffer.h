#pragma once

#include <cstddef>
#include <cstdint>

namespace zelkor {

// A heap buffer of bytes that starts out zero-filled. It comes from calloc, so
// the pages of a large buffer cost no memory until they are first written.
// Move-only; frees its memory on destruction. Allocation failures throw
// std::bad_alloc.
class ByteBuffer {
public:
    ByteBuffer() = default;
    explicit ByteBuffer(std::size_t size);
    ~ByteBuffer();
    ByteBuffer(ByteBuffer&& other) noexcept;
    ByteBuffer& operator=(ByteBuffer&& other) noexcept;
    ByteBuffer(const ByteBuffer&) = delete;
    ByteBuffer& operator=(const ByteBuffer&) = delete;

    std::uint8_t* data() { return data_; }
    const std::uint8_t* data() const { return data_; }
    std::size_t size() const { return size_; }

    // Replaces the buffer by a new zero-filled one of `size` bytes; the old
    // content is lost. On failure the buffer is left empty.
    void Reallocate(std::size_t size);

    // Changes the size to `size` bytes, keeping the content up to the smaller of
    // the two sizes; bytes beyond the old size are unspecified (not zeroed).
    // Large buffers move their pages rather than copy them. On failure
    // (std::bad_alloc) the buffer is left as it was.
    void Resize(std::size_t size);

    // Hands the whole pages within bytes [from, to) back to the system, so that
    // they no longer count as resident; they read as zero afterwards. The bytes
    // of the partial pages at either end are kept. `to` is clamped to size().
    void Discard(std::size_t from, std::size_t to);

private:
    std::uint8_t* data_ = nullptr;
    std::size_t size_ = 0;
};

}  // namespace zelkor
