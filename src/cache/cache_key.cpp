#include "cache/cache_key.h"

#include <algorithm>
#include <new>

#include <lz4.h>
#include <xxhash.h>

#include "archive/archive_format.h"
#include "cache/cache_entry.h"
#include "platform/hex.h"

namespace zelkor {

CacheKey CacheKey::Of(std::span<const std::uint8_t> raw, std::uint32_t& contentHash)
{
    // Both hashes a piece at a time, while each piece is in the processor's cache.
    constexpr std::size_t Piece = 256 * 1024;
    Hasher hasher;
    for (std::size_t at = 0; at < raw.size(); at += Piece)
        hasher.Update(raw.subspan(at, std::min(Piece, raw.size() - at)));
    return hasher.Finish(contentHash);
}

std::string CacheKey::Hex() const
{
    return HexBytes(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

void CacheKey::Hasher::FreeState::operator()(XXH32_state_s* state) const
{
    XXH32_freeState(state);
}

CacheKey::Hasher::Hasher() : xxh_(XXH32_createState())
{
    if (!xxh_)
        throw std::bad_alloc();
    XXH32_reset(xxh_.get(), ContentHashSeed);
}

CacheKey::Hasher::~Hasher() = default;

void CacheKey::Hasher::Update(std::span<const std::uint8_t> piece)
{
    sha_.Update(piece.data(), piece.size());
    XXH32_update(xxh_.get(), piece.data(), piece.size());
    size_ += piece.size();
}

CacheKey CacheKey::Hasher::Finish(std::uint32_t& contentHash)
{
    contentHash = XXH32_digest(xxh_.get());
    std::uint8_t context[20];
    EncodeFixed64(context, size_);
    EncodeFixed32(context + 8, static_cast<std::uint32_t>(LZ4_versionNumber()));
    EncodeFixed32(context + 12, static_cast<std::uint32_t>(CompressionLevel));
    EncodeFixed32(context + 16, CacheEntry::Version);
    sha_.Update(context, sizeof context);
    CacheKey key;
    sha_.Final(key.bytes.data());
    return key;
}

}  // namespace zelkor
