#include "platform/mapped_file.h"

#include <utility>

#include "platform/memory_pages.h"
#include "platform/system.h"

namespace zelkor {

namespace {

// The mapping the current thread reads under a guard, if any.
thread_local MappedFile* reading = nullptr;

}  // namespace

bool MappedFile::ReplaceLostPage(const void* faulted)
{
    const auto address = reinterpret_cast<std::uintptr_t>(faulted);
    MappedFile* mapped = reading;
    const auto begin = reinterpret_cast<std::uintptr_t>(mapped ? mapped->data_ : nullptr);
    if (!mapped || address < begin || address >= begin + mapped->size_)
        return false;
    // The page is gone from the file: zeros take its place, and the read goes on.
    const std::uintptr_t page = address & ~(static_cast<std::uintptr_t>(PageSize()) - 1);
    if (!system::ReplaceWithZeros(reinterpret_cast<void*>(page), PageSize()))
        return false;
    mapped->damaged_ = true;
    return true;
}

MappedFile::MappedFile(MappedFile&& other) noexcept
    : data_(std::exchange(other.data_, nullptr)), size_(std::exchange(other.size_, 0)), damaged_(other.damaged_)
{
}

MappedFile& MappedFile::operator=(MappedFile&& other) noexcept
{
    if (this != &other) {
        if (data_)
            system::Unmap(data_, size_);
        data_ = std::exchange(other.data_, nullptr);
        size_ = std::exchange(other.size_, 0);
        damaged_ = other.damaged_;
    }
    return *this;
}

MappedFile::~MappedFile()
{
    if (data_)
        system::Unmap(data_, size_);
}

MappedFile::Reading::Reading(MappedFile& mapped) : previous_(std::exchange(reading, &mapped))
{
}

MappedFile::Reading::~Reading()
{
    reading = previous_;
}

}  // namespace zelkor
