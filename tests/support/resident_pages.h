#pragma once

#include <cstddef>
#include <cstdint>

namespace zelkor::testing {

// How many of the whole pages within [data, data + size) are resident in memory
// (mincore). Fails the test when the system cannot tell.
std::size_t ResidentPages(const std::uint8_t* data, std::size_t size);

}  // namespace zelkor::testing
