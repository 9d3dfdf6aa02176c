#pragma once

#include <cstddef>

namespace zelkor {

// The size of the pages the system hands out memory in.
std::size_t PageSize();

// Hands the whole pages of private memory at [begin, begin + length) back to
// the system (both page-aligned), so that they no longer count as resident;
// they read as zero on the next touch. Only a hint: when the system declines,
// the pages stay as they are.
void DiscardPages(void* begin, std::size_t length);

}  // namespace zelkor
