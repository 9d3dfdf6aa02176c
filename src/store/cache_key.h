#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>

#include <cryptopp/sha.h>

#include "archive/archive_format.h"

namespace zelkor {

// The name of a stored form in the compression cache: a SHA-256 of the raw
// bytes, then of their size, the LZ4 library's version, the compression level
// and the cache entry format's version, so that another library, level or
// layout never serves stale output.
struct CacheKey {
    std::array<std::uint8_t, 32> bytes{};

    // The key of `raw` compressed at `level`.
    static CacheKey Of(std::span<const std::uint8_t> raw, int level = CompressionLevel);
    // The key of `raw` and its content hash (XXH32), in one pass over the bytes.
    static CacheKey Of(std::span<const std::uint8_t> raw, std::uint32_t& contentHash, int level = CompressionLevel);

    // 64 lower-case hex digits.
    std::string Hex() const;
    // Which of the 256 buckets the entry lives in.
    unsigned Bucket() const { return bytes[0]; }

    bool operator==(const CacheKey& other) const = default;

    // The key of raw bytes that arrive piece by piece.
    class Hasher {
    public:
        explicit Hasher(int level = CompressionLevel) : level_(level) {}
        void Update(std::span<const std::uint8_t> piece);
        // The key of all the pieces so far.
        CacheKey Finish();

    private:
        CryptoPP::SHA256 sha_;
        std::uint64_t size_ = 0;
        int level_;
    };
};

}  // namespace zelkor
