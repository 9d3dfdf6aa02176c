#include <sys/random.h>

#include <cerrno>
#include <stdexcept>

#include "platform/system.h"

namespace zelkor::system {

void RandomBytes(void* data, std::size_t size)
{
    auto* bytes = static_cast<unsigned char*>(data);
    std::size_t got = 0;
    while (got < size) {
        const ssize_t n = ::getrandom(bytes + got, size - got, 0);
        if (n < 0 && errno != EINTR)
            throw std::runtime_error("no random source");
        got += n > 0 ? static_cast<std::size_t>(n) : 0;
    }
}

}  // namespace zelkor::system
