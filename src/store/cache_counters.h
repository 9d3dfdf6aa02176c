#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace zelkor {

// What the compression cache counts: in one run, and in the cache directory's
// `stats` file, which every run adds its own counts to.
struct CacheCounters {
    std::uint64_t hits = 0;
    std::uint64_t misses = 0;
    std::uint64_t savedBytes = 0;  // raw bytes whose compression the hits saved
    std::uint64_t damaged = 0;     // entries found damaged and removed (each a miss too)
    std::uint64_t copied = 0;      // archive entries copied from the last build of their archive

    CacheCounters& operator+=(const CacheCounters& other);
    bool Any() const { return hits != 0 || misses != 0 || damaged != 0 || copied != 0; }

    // The `stats` file: the counters as 64-bit little-endian numbers in the order
    // above. A file of an earlier version holds fewer; those missing read as 0,
    // and so does a file that holds no whole number.
    static constexpr std::size_t FileSize = 40;
    std::array<std::uint8_t, FileSize> Encode() const;
    static CacheCounters Decode(std::span<const std::uint8_t> bytes);
};

}  // namespace zelkor
