#pragma once

#include <cstddef>
#include <cstdint>

namespace zelkor {

// The size of the pages the system hands out memory in.
std::size_t PageSize();

// The machine's physical memory in bytes; 0 when the system does not say.
std::uint64_t PhysicalMemory();

// Hands the whole pages of private memory at [begin, begin + length) back to
// the system (both page-aligned), so that they no longer count as resident;
// they read as zero on the next touch. Only a hint: when the system declines,
// the pages stay as they are.
void DiscardPages(void* begin, std::size_t length);

}  // namespace zelkor
