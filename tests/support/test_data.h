#pragma once

#include <cstddef>
#include <string>

namespace zelkor::testing {

// `size` bytes that no compressor can shrink, the same for the same seed.
std::string RandomBytes(std::size_t size, unsigned seed);

// `size` bytes of text that compresses well (words drawn from a thousand), the
// same for the same seed.
std::string CompressibleText(std::size_t size, unsigned seed);

}  // namespace zelkor::testing
