#include "platform/memory_pages.h"

#include <sys/mman.h>
#include <unistd.h>

namespace zelkor {

std::size_t PageSize()
{
    static const auto size = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
    return size;
}

std::uint64_t PhysicalMemory()
{
    const long pages = ::sysconf(_SC_PHYS_PAGES);
    if (pages <= 0)
        return 0;
    return static_cast<std::uint64_t>(pages) * PageSize();
}

void DiscardPages(void* begin, std::size_t length)
{
    // Private anonymous memory (from calloc) comes back zero-filled on the next
    // touch.
    if (length > 0)
        (void)::madvise(begin, length, MADV_DONTNEED);
}

}  // namespace zelkor
