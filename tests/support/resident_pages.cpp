#include "support/resident_pages.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <vector>

#include <gtest/gtest.h>

namespace zelkor::testing {

std::size_t ResidentPages(const std::uint8_t* data, std::size_t size)
{
    const auto page = static_cast<std::uintptr_t>(::sysconf(_SC_PAGESIZE));
    const std::uintptr_t begin = (reinterpret_cast<std::uintptr_t>(data) + page - 1) & ~(page - 1);
    const std::uintptr_t end = (reinterpret_cast<std::uintptr_t>(data) + size) & ~(page - 1);
    if (begin >= end)
        return 0;
    std::vector<unsigned char> resident((end - begin) / page);
    EXPECT_EQ(::mincore(reinterpret_cast<void*>(begin), end - begin, resident.data()), 0);
    return static_cast<std::size_t>(
        std::count_if(resident.begin(), resident.end(), [](unsigned char c) { return c & 1; }));
}

}  // namespace zelkor::testing
