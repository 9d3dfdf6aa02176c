#include "library/hook_memory.h"

#include <new>

namespace zelkor {

HookMemory::HookMemory(const zlk_allocator* hooks) : given_(hooks != nullptr)
{
    if (hooks)
        hooks_ = *hooks;
}

void* HookMemory::AllocateRaw(const zlk_allocator* hooks, std::size_t size, std::size_t alignment)
{
    if (hooks)
        return hooks->allocate(hooks->opaque, size, alignment);
    return ::operator new(size, std::align_val_t(alignment), std::nothrow);
}

void HookMemory::ReleaseRaw(const zlk_allocator* hooks, void* pointer, std::size_t size, std::size_t alignment)
{
    if (pointer == nullptr)
        return;
    if (hooks)
        hooks->release(hooks->opaque, pointer, size, alignment);
    else
        ::operator delete(pointer, std::align_val_t(alignment));
}

void* HookMemory::do_allocate(std::size_t bytes, std::size_t alignment)
{
    void* pointer = AllocateRaw(given_ ? &hooks_ : nullptr, bytes, alignment);
    if (pointer == nullptr)
        throw std::bad_alloc();
    return pointer;
}

void HookMemory::do_deallocate(void* pointer, std::size_t bytes, std::size_t alignment)
{
    ReleaseRaw(given_ ? &hooks_ : nullptr, pointer, bytes, alignment);
}

}  // namespace zelkor
