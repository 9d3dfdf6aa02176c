#include "platform/byte_size.h"

namespace zelkor {

std::optional<std::uint64_t> ParseByteSize(std::string_view text)
{
    std::uint64_t value = 0;
    std::size_t i = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        const auto digit = static_cast<std::uint64_t>(text[i] - '0');
        if (value > (UINT64_MAX - digit) / 10)
            return std::nullopt;
        value = value * 10 + digit;
    }
    if (i == 0)
        return std::nullopt;
    int shift = 0;
    if (i + 1 == text.size()) {
        switch (text[i]) {
        case 'K': case 'k': shift = 10; break;
        case 'M': case 'm': shift = 20; break;
        case 'G': case 'g': shift = 30; break;
        default: return std::nullopt;
        }
    } else if (i != text.size()) {
        return std::nullopt;
    }
    if (value > (UINT64_MAX >> shift))
        return std::nullopt;
    return value << shift;
}

std::string ShowByteSize(std::uint64_t size)
{
    const char units[] = {'G', 'M', 'K'};
    for (int i = 0; i < 3; ++i) {
        const int shift = 30 - 10 * i;
        const std::uint64_t unit = std::uint64_t{1} << shift;
        if (size != 0 && size % unit == 0)
            return std::to_string(size >> shift) + units[i];
    }
    return std::to_string(size);
}

}  // namespace zelkor
