#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include <cryptopp/sha.h>

struct XXH32_state_s;

namespace zelkor {

// The name of a stored form in the compression cache: a SHA-256 of the raw
// bytes, then of their size, the LZ4 library's version, the compression level
// and the cache entry format's version, so that another library, level or
// layout never serves stale output. Worked out together with the content hash
// (XXH32), in one pass over the bytes.
struct CacheKey {
    std::array<std::uint8_t, 32> bytes{};

    // The key of `raw`, and its content hash in `contentHash`.
    static CacheKey Of(std::span<const std::uint8_t> raw, std::uint32_t& contentHash);

    // 64 lower-case hex digits.
    std::string Hex() const;
    // Which of the 256 buckets the entry lives in.
    unsigned Bucket() const { return bytes[0]; }

    bool operator==(const CacheKey& other) const = default;

    // The same two hashes over raw bytes that arrive piece by piece.
    class Hasher {
    public:
        Hasher();
        ~Hasher();
        Hasher(const Hasher&) = delete;
        Hasher& operator=(const Hasher&) = delete;

        void Update(std::span<const std::uint8_t> piece);
        // The key of all the pieces so far, and their content hash.
        CacheKey Finish(std::uint32_t& contentHash);

    private:
        struct FreeState {
            void operator()(XXH32_state_s* state) const;
        };
        CryptoPP::SHA256 sha_;
        std::unique_ptr<XXH32_state_s, FreeState> xxh_;
        std::uint64_t size_ = 0;
    };
};

}  // namespace zelkor
