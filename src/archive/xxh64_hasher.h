#pragma once

#include <cstddef>
#include <cstdint>

namespace zelkor {

// XXH64 (seed 0) of bytes that arrive piece by piece, its state held in the
// object itself so that no allocation is made. One hasher serves one thread at
// a time.
class Xxh64Hasher {
public:
    Xxh64Hasher();

    void Update(const void* data, std::size_t size);
    std::uint64_t Digest() const;

private:
    // XXH64's state, kept opaque here: 88 bytes, 8-byte aligned.
    alignas(8) std::uint8_t state_[96];
};

}  // namespace zelkor
