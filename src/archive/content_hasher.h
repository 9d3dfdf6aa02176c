#pragma once

#include <cstdint>
#include <span>

namespace zelkor {

// The content hash of an entry: XXH32 of its raw bytes with ContentHashSeed.
// Raw bytes may come in pieces; the pieces in order hash as the whole would.
// Holds its state in itself, so hashing allocates nothing. One hasher serves
// one thread at a time.
class ContentHasher {
public:
    ContentHasher();

    void Update(std::span<const std::uint8_t> piece);
    std::uint32_t Digest() const;

    // The hash of `raw` in one call.
    static std::uint32_t Of(std::span<const std::uint8_t> raw);

private:
    // XXH32's state, kept opaque here: 48 bytes, 4-byte aligned.
    alignas(8) std::uint8_t state_[48];
};

}  // namespace zelkor
