#include "store/cache_key.h"

#include <algorithm>

#include <lz4.h>

#include "archive/archive_format.h"
#include "archive/content_hasher.h"
#include "platform/hex.h"
#include "store/cache_entry.h"

namespace zelkor {

CacheKey CacheKey::Of(std::span<const std::uint8_t> raw, int level)
{
    Hasher hasher(level);
    hasher.Update(raw);
    return hasher.Finish();
}

CacheKey CacheKey::Of(std::span<const std::uint8_t> raw, std::uint32_t& contentHash, int level)
{
    // Both hashes a piece at a time, while each piece is in the processor's cache.
    constexpr std::size_t Piece = 256 * 1024;
    Hasher hasher(level);
    ContentHasher content;
    for (std::size_t at = 0; at < raw.size(); at += Piece) {
        const std::span<const std::uint8_t> piece = raw.subspan(at, std::min(Piece, raw.size() - at));
        hasher.Update(piece);
        content.Update(piece);
    }
    contentHash = content.Digest();
    return hasher.Finish();
}

std::string CacheKey::Hex() const
{
    return HexBytes(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

void CacheKey::Hasher::Update(std::span<const std::uint8_t> piece)
{
    sha_.Update(piece.data(), piece.size());
    size_ += piece.size();
}

CacheKey CacheKey::Hasher::Finish()
{
    std::uint8_t context[20];
    EncodeFixed64(context, size_);
    EncodeFixed32(context + 8, static_cast<std::uint32_t>(LZ4_versionNumber()));
    EncodeFixed32(context + 12, static_cast<std::uint32_t>(level_));
    EncodeFixed32(context + 16, CacheEntry::Version);
    sha_.Update(context, sizeof context);
    CacheKey key;
    sha_.Final(key.bytes.data());
    return key;
}

}  // namespace zelkor
