#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string_view>

#include <cryptopp/sha.h>

#include "platform/little_endian.h"

namespace zelkor {

// SHA-256 over fields that each carry their length (64 bits, little-endian)
// before them, so that no two lists of fields run together into the same
// bytes. What the build records' digests are made of.
//
// One hasher serves one thread at a time.
class FieldHasher {
public:
    using Digest = std::array<std::uint8_t, 32>;

    void Add(std::span<const std::uint8_t> bytes)
    {
        std::uint8_t length[8];
        EncodeFixed64(length, bytes.size());
        sha_.Update(length, sizeof length);
        sha_.Update(bytes.data(), bytes.size());
    }
    void Add(std::string_view text) { Add(std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size())); }
    void Add(std::uint64_t value)
    {
        std::uint8_t bytes[8];
        EncodeFixed64(bytes, value);
        Add(std::span<const std::uint8_t>(bytes));
    }

    Digest Finish()
    {
        Digest digest;
        sha_.Final(digest.data());
        return digest;
    }

private:
    CryptoPP::SHA256 sha_;
};

}  // namespace zelkor
