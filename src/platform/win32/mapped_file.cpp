#include "platform/mapped_file.h"

#include <windows.h>

#include "platform/system.h"

namespace zelkor {

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

namespace system {

void Unmap(void* data, std::size_t)
{
    ::UnmapViewOfFile(data);
}

bool ReplaceWithZeros(void*, std::size_t)
{
    return false;  // no page is ever lost (see Map), and there is no fault handler
}

}  // namespace system

}  // namespace zelkor
