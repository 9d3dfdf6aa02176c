#include "support/test_data.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <random>

namespace zelkor::testing {

std::string RandomBytes(std::size_t size, unsigned seed)
{
    std::mt19937_64 generator(seed);
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; i += 8) {
        const std::uint64_t word = generator();
        std::memcpy(&bytes[i], &word, std::min<std::size_t>(8, size - i));
    }
    return bytes;
}

std::string CompressibleText(std::size_t size, unsigned seed)
{
    std::mt19937 generator(seed);
    std::string text;
    while (text.size() < size) {
        const unsigned word = generator() % 1000;
        text += static_cast<char>('a' + word % 26);
        text += std::to_string(word);
        text += ' ';
    }
    text.resize(size);
    return text;
}

}  // namespace zelkor::testing
