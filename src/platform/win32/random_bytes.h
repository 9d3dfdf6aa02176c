#pragma once

#include <cstddef>

namespace zelkor::win32 {

// Fills `data` from the system's random source (BCryptGenRandom); throws
// std::runtime_error when it fails.
void RandomBytes(void* data, std::size_t size);

}  // namespace zelkor::win32
