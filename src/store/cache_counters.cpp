#include "store/cache_counters.h"

#include <iterator>

#include "platform/little_endian.h"

namespace zelkor {

CacheCounters& CacheCounters::operator+=(const CacheCounters& other)
{
    hits += other.hits;
    misses += other.misses;
    savedBytes += other.savedBytes;
    damaged += other.damaged;
    copied += other.copied;
    return *this;
}

std::array<std::uint8_t, CacheCounters::FileSize> CacheCounters::Encode() const
{
    std::array<std::uint8_t, FileSize> bytes{};
    const std::uint64_t values[] = {hits, misses, savedBytes, damaged, copied};
    for (std::size_t i = 0; i < std::size(values); ++i)
        EncodeFixed64(&bytes[8 * i], values[i]);
    return bytes;
}

CacheCounters CacheCounters::Decode(std::span<const std::uint8_t> bytes)
{
    CacheCounters counters;
    std::uint64_t* values[] = {&counters.hits, &counters.misses, &counters.savedBytes, &counters.damaged,
                               &counters.copied};
    for (std::size_t i = 0; i < std::size(values) && 8 * (i + 1) <= bytes.size(); ++i)
        *values[i] = DecodeFixed64(&bytes[8 * i]);
    return counters;
}

}  // namespace zelkor
