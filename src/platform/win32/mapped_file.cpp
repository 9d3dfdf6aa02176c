#include "platform/mapped_file.h"

#include <windows.h>

#include <utility>

namespace zelkor {

namespace {

// The mapping the current thread reads under a guard, if any.
thread_local MappedFile* reading = nullptr;

void Unmap(std::uint8_t* data)
{
    if (data)
        ::UnmapViewOfFile(data);
}

}  // namespace

std::optional<MappedFile> MappedFile::Map(const File& file, std::size_t size)
{
    // While a view of it exists, Windows refuses to cut the file short
    // (ERROR_USER_MAPPED_FILE), so no page of a view can be lost under a reader.
    const auto handle = reinterpret_cast<HANDLE>(file.NativeHandle());
    const auto size64 = static_cast<std::uint64_t>(size);
    HANDLE mapping = ::CreateFileMappingW(handle, nullptr, PAGE_READONLY, static_cast<DWORD>(size64 >> 32),
                                          static_cast<DWORD>(size64), nullptr);
    if (!mapping)
        return std::nullopt;
    void* data = ::MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, size);
    // The view keeps the mapping alive.
    ::CloseHandle(mapping);
    if (!data)
        return std::nullopt;
    return MappedFile(static_cast<std::uint8_t*>(data), size);
}

bool MappedFile::ReplaceLostPage(const void*)
{
    return false;  // no page is ever lost (see Map)
}

MappedFile::MappedFile(MappedFile&& other) noexcept
    : data_(std::exchange(other.data_, nullptr)), size_(std::exchange(other.size_, 0)), damaged_(other.damaged_)
{
}

MappedFile& MappedFile::operator=(MappedFile&& other) noexcept
{
    if (this != &other) {
        Unmap(data_);
        data_ = std::exchange(other.data_, nullptr);
        size_ = std::exchange(other.size_, 0);
        damaged_ = other.damaged_;
    }
    return *this;
}

MappedFile::~MappedFile()
{
    Unmap(data_);
}

MappedFile::Reading::Reading(MappedFile& mapped) : previous_(std::exchange(reading, &mapped))
{
}

MappedFile::Reading::~Reading()
{
    reading = previous_;
}

}  // namespace zelkor
