#include "store/cache_entry.h"

#include <algorithm>

#define XXH_STATIC_LINKING_ONLY
#include <xxhash.h>

#include "platform/little_endian.h"

namespace zelkor {

namespace {

static_assert(CacheEntry::ChecksumAt + 8 == CacheEntry::HeaderSize);
static_assert(CacheEntry::KeyAt + sizeof(CacheKey::bytes) == CacheEntry::RawSizeAt);

// XXH64 of the header with its checksum field as zeros, then of the block.
std::uint64_t Checksum(std::span<const std::uint8_t, CacheEntry::HeaderSize> header,
                       std::span<const std::uint8_t> block)
{
    CacheEntry::Header copy;
    std::copy(header.begin(), header.end(), copy.begin());
    std::fill_n(copy.begin() + CacheEntry::ChecksumAt, 8, 0);
    XXH64_state_t state;
    XXH64_reset(&state, 0);
    XXH64_update(&state, copy.data(), copy.size());
    XXH64_update(&state, block.data(), block.size());
    return XXH64_digest(&state);
}

}  // namespace

CacheEntry::Header CacheEntry::Encode(const CacheKey& key, std::uint64_t rawSize, std::span<const std::uint8_t> block)
{
    Header header{};
    EncodeFixed32(&header[MagicAt], Magic);
    EncodeFixed32(&header[VersionAt], Version);
    std::copy(key.bytes.begin(), key.bytes.end(), header.begin() + KeyAt);
    EncodeFixed64(&header[RawSizeAt], rawSize);
    EncodeFixed64(&header[BlockSizeAt], block.size());
    EncodeFixed32(&header[FlagsAt], block.empty() ? 0 : Compressed);
    EncodeFixed64(&header[ChecksumAt], Checksum(header, block));
    return header;
}

std::uint64_t CacheEntry::MaxSize(std::uint64_t rawSize)
{
    return HeaderSize + (rawSize > 0 ? rawSize - 1 : 0);
}

CacheEntry::Status CacheEntry::Decode(std::span<const std::uint8_t> entry, const CacheKey& key,
                                      std::uint64_t rawSize, std::span<const std::uint8_t>& block)
{
    if (entry.size() < HeaderSize)
        return Status::Truncated;
    const std::span<const std::uint8_t, HeaderSize> header = entry.first<HeaderSize>();
    const std::span<const std::uint8_t> rest = entry.subspan(HeaderSize);
    if (DecodeFixed32(&header[MagicAt]) != Magic)
        return Status::BadMagic;
    if (DecodeFixed32(&header[VersionAt]) != Version)
        return Status::OtherVersion;
    if (!std::equal(key.bytes.begin(), key.bytes.end(), header.begin() + KeyAt))
        return Status::OtherKey;
    if (DecodeFixed64(&header[RawSizeAt]) != rawSize)
        return Status::OtherRawSize;
    if (DecodeFixed64(&header[BlockSizeAt]) != rest.size())
        return Status::BadBlockSize;
    const std::uint32_t flags = DecodeFixed32(&header[FlagsAt]);
    if ((flags & ~Compressed) != 0 || DecodeFixed32(&header[ReservedAt]) != 0 ||
        (flags == Compressed) == rest.empty())
        return Status::BadFlags;
    if (rest.size() >= std::max<std::uint64_t>(rawSize, 1))
        return Status::BlockTooLarge;
    if (Checksum(header, rest) != DecodeFixed64(&header[ChecksumAt]))
        return Status::BadChecksum;
    block = rest;
    return Status::Ok;
}

const char* CacheEntry::Describe(Status status)
{
    switch (status) {
    case Status::Ok: return "ok";
    case Status::Truncated: return "truncated";
    case Status::BadMagic: return "bad magic";
    case Status::OtherVersion: return "another version";
    case Status::OtherKey: return "another key";
    case Status::OtherRawSize: return "another raw size";
    case Status::BadBlockSize: return "bad block size";
    case Status::BadFlags: return "bad flags";
    case Status::BlockTooLarge: return "block too large";
    case Status::BadChecksum: return "bad checksum";
    }
    return "unknown status";
}

}  // namespace zelkor
