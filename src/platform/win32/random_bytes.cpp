#include <windows.h>
#include <bcrypt.h>

#include <stdexcept>

#include "platform/system.h"

namespace zelkor::system {

void RandomBytes(void* data, std::size_t size)
{
    const NTSTATUS status = ::BCryptGenRandom(nullptr, static_cast<PUCHAR>(data), static_cast<ULONG>(size),
                                              BCRYPT_USE_SYSTEM_PREFERRED_RNG);
    if (status < 0)
        throw std::runtime_error("no random source");
}

}  // namespace zelkor::system
