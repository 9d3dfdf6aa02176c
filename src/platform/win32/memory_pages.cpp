#include "platform/memory_pages.h"

#include <windows.h>

namespace zelkor {

std::size_t PageSize()
{
    static const std::size_t size = [] {
        SYSTEM_INFO info{};
        ::GetSystemInfo(&info);
        return static_cast<std::size_t>(info.dwPageSize);
    }();
    return size;
}

std::uint64_t PhysicalMemory()
{
    MEMORYSTATUSEX status{};
    status.dwLength = sizeof status;
    if (!::GlobalMemoryStatusEx(&status))
        return 0;
    return static_cast<std::uint64_t>(status.ullTotalPhys);
}

void DiscardPages(void* begin, std::size_t length)
{
    // The pages stay committed (they belong to the heap), but the system may
    // drop them from memory without writing them out; they then read as zero.
    if (length > 0)
        (void)::VirtualAlloc(begin, length, MEM_RESET, PAGE_READWRITE);
}

}  // namespace zelkor
