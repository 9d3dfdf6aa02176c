#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "store/cache_key.h"

namespace zelkor {

// One entry of the compression cache as bytes, both ways: the stored form of
// some raw bytes (their LZ4 block, or only the fact that compression did not
// make them smaller) behind a header that names the key and sizes and carries a
// checksum of the whole entry. docs/format.md describes the layout. Pure: no
// file is touched here, so a local directory and a remote store hold the same
// bytes.
//
// The checksum only finds damage; it proves nothing about where an entry came
// from, so a cache still checks a block's raw bytes before it uses them.
class CacheEntry {
public:
    static constexpr std::uint32_t Magic = 0x45434B5A;  // "ZKCE"
    static constexpr std::uint32_t Version = 1;

    static constexpr std::size_t MagicAt = 0;
    static constexpr std::size_t VersionAt = 4;
    static constexpr std::size_t KeyAt = 8;
    static constexpr std::size_t RawSizeAt = 40;
    static constexpr std::size_t BlockSizeAt = 48;
    static constexpr std::size_t FlagsAt = 56;
    static constexpr std::size_t ReservedAt = 60;
    static constexpr std::size_t ChecksumAt = 64;
    static constexpr std::size_t HeaderSize = 72;
    static constexpr std::uint32_t Compressed = 1;

    using Header = std::array<std::uint8_t, HeaderSize>;

    // The header of the entry for raw bytes of `rawSize` with key `key`, whose
    // stored form is `block` (empty: compression did not pay). The entry is the
    // header followed by the block.
    static Header Encode(const CacheKey& key, std::uint64_t rawSize, std::span<const std::uint8_t> block);

    // The largest entry that can stand for raw bytes of `rawSize`: its block is
    // always smaller than they are.
    static std::uint64_t MaxSize(std::uint64_t rawSize);

    enum class Status {
        Ok,
        Truncated,     // shorter than a header
        BadMagic,
        OtherVersion,
        OtherKey,      // the key asked for is not the one recorded
        OtherRawSize,
        BadBlockSize,  // the recorded block size is not what follows the header
        BadFlags,      // unknown flags or reserved bits, or a block that contradicts them
        BlockTooLarge, // a block no smaller than the raw bytes
        BadChecksum,
    };

    // Checks that `entry` is a whole entry of ours for `key` and raw bytes of
    // `rawSize`; on Ok, `block` is its block within `entry` (empty when
    // compression did not pay).
    static Status Decode(std::span<const std::uint8_t> entry, const CacheKey& key, std::uint64_t rawSize,
                         std::span<const std::uint8_t>& block);

    // "ok", "truncated", ... for messages and tests.
    static const char* Describe(Status status);
};

}  // namespace zelkor
