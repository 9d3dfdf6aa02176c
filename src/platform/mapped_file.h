#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "platform/file.h"

namespace zelkor {

// The first bytes of a regular file mapped read-only into memory, so that they
// can be hashed and compressed without copying them first.
//
// A file cut short while it is mapped would make reading its lost pages fault
// and end the process. While a Reading guard of the mapping is alive on a
// thread, such a fault is caught instead: the lost pages read as zeros from then on, and
// Damaged() tells that what was read is not the file; the caller then reads
// the file the ordinary way. Move-only; unmaps on destruction.
class MappedFile {
public:
    // Maps `size` bytes of `file` (size > 0); nothing when the system refuses.
    static std::optional<MappedFile> Map(const File& file, std::size_t size);

    MappedFile(MappedFile&& other) noexcept;
    MappedFile& operator=(MappedFile&& other) noexcept;
    MappedFile(const MappedFile&) = delete;
    MappedFile& operator=(const MappedFile&) = delete;
    ~MappedFile();

    std::span<const std::uint8_t> Bytes() const { return {data_, size_}; }
    bool Damaged() const { return damaged_; }

    // Covers the reads of one thread from the mapping, for the guard's life.
    class Reading {
    public:
        explicit Reading(MappedFile& mapped);
        ~Reading();
        Reading(const Reading&) = delete;
        Reading& operator=(const Reading&) = delete;

    private:
        MappedFile* previous_;
    };

    // For the platform layer's fault handler alone, on the thread that
    // faulted: true when `address` lies in the mapping that thread reads under
    // a guard, and zeros now stand in for the lost page there.
    static bool ReplaceLostPage(const void* address);

private:
    MappedFile(std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

    std::uint8_t* data_ = nullptr;
    std::size_t size_ = 0;
    volatile bool damaged_ = false;
};

}  // namespace zelkor
