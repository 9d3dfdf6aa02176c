#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zelkor::eviction {

// The cache keeps its cap bucket by bucket: each of the 256 buckets may hold a
// 256th of it, and one that has grown past its share drops its least recently
// used entries until it is under 90% of the share. So no run ever looks at more
// than the buckets it wrote to.
inline constexpr unsigned BucketCount = 256;

// The bytes one bucket may hold under a cap of `capacity`.
std::uint64_t Share(std::uint64_t capacity);

// Whether a bucket holding `bytes` must drop entries.
bool Due(std::uint64_t bytes, std::uint64_t capacity);

// One entry as a bucket's listing shows it.
struct StoredEntry {
    std::string name;
    std::uint64_t size = 0;
    std::int64_t lastUse = 0;  // nanoseconds since the epoch
};

// The names of the entries to remove so that the rest take at most 90% of the
// share: the least recently used first (ties by name, so that the choice does
// not depend on the order of the listing).
std::vector<std::string> Victims(std::vector<StoredEntry> entries, std::uint64_t capacity);

}  // namespace zelkor::eviction
