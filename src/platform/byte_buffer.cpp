#include "platform/byte_buffer.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <new>
#include <utility>

#include "platform/memory_pages.h"

namespace zelkor {

namespace {

std::uint8_t* AllocateZeroed(std::size_t size)
{
    if (size == 0)
        return nullptr;
    void* memory = std::calloc(size, 1);
    if (!memory)
        throw std::bad_alloc();
    return static_cast<std::uint8_t*>(memory);
}

}  // namespace

ByteBuffer::ByteBuffer(std::size_t size) : data_(AllocateZeroed(size)), size_(size)
{
}

ByteBuffer::~ByteBuffer()
{
    std::free(data_);
}

ByteBuffer::ByteBuffer(ByteBuffer&& other) noexcept
    : data_(std::exchange(other.data_, nullptr)), size_(std::exchange(other.size_, 0))
{
}

ByteBuffer& ByteBuffer::operator=(ByteBuffer&& other) noexcept
{
    if (this != &other) {
        std::free(data_);
        data_ = std::exchange(other.data_, nullptr);
        size_ = std::exchange(other.size_, 0);
    }
    return *this;
}

void ByteBuffer::Reallocate(std::size_t size)
{
    // Free first: the old content is not needed, and holding both at once would
    // raise the peak for a large buffer.
    std::free(std::exchange(data_, nullptr));
    size_ = 0;
    data_ = AllocateZeroed(size);
    size_ = size;
}

void ByteBuffer::Resize(std::size_t size)
{
    if (size == 0) {
        std::free(std::exchange(data_, nullptr));
        size_ = 0;
        return;
    }
    void* memory = std::realloc(data_, size);
    if (!memory)
        throw std::bad_alloc();
    data_ = static_cast<std::uint8_t*>(memory);
    size_ = size;
}

void ByteBuffer::Discard(std::size_t from, std::size_t to)
{
    to = std::min(to, size_);
    if (from >= to)
        return;
    const std::uintptr_t page = PageSize();
    const std::uintptr_t begin = (reinterpret_cast<std::uintptr_t>(data_) + from + page - 1) & ~(page - 1);
    const std::uintptr_t end = (reinterpret_cast<std::uintptr_t>(data_) + to) & ~(page - 1);
    if (begin < end)
        DiscardPages(reinterpret_cast<void*>(begin), end - begin);
}

}  // namespace zelkor
