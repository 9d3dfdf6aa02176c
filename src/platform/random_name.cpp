#include "platform/random_name.h"

#include <string_view>

#include "platform/system.h"

namespace zelkor {

std::string RandomName(std::size_t count)
{
    static constexpr std::string_view Letters = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    // A byte picks a letter only below the largest multiple of the letters'
    // count that it can hold, so that no letter comes up more often.
    constexpr unsigned Usable = 256 / Letters.size() * Letters.size();
    std::string name;
    name.reserve(count);
    while (name.size() < count) {
        unsigned char bytes[32];
        system::RandomBytes(bytes, sizeof bytes);
        for (const unsigned char byte : bytes) {
            if (byte < Usable && name.size() < count)
                name += Letters[byte % Letters.size()];
        }
    }
    return name;
}

}  // namespace zelkor
