#pragma once

#include <memory_resource>

#include "zelkor/zelkor.h"

namespace zelkor {

// A caller's allocator hooks as a memory resource; without hooks, malloc and
// free (aligned as asked).
class HookMemory : public std::pmr::memory_resource {
public:
    explicit HookMemory(const zlk_allocator* hooks);

    // Memory for an object of the library's own, outside any archive.
    static void* AllocateRaw(const zlk_allocator* hooks, std::size_t size, std::size_t alignment);
    static void ReleaseRaw(const zlk_allocator* hooks, void* pointer, std::size_t size, std::size_t alignment);

private:
    void* do_allocate(std::size_t bytes, std::size_t alignment) override;
    void do_deallocate(void* pointer, std::size_t bytes, std::size_t alignment) override;
    bool do_is_equal(const std::pmr::memory_resource& other) const noexcept override { return this == &other; }

    zlk_allocator hooks_{};
    bool given_;
};

}  // namespace zelkor
