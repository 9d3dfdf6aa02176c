#include "store/eviction_policy.h"

#include <algorithm>

namespace zelkor::eviction {

std::uint64_t Share(std::uint64_t capacity)
{
    return capacity / BucketCount;
}

bool Due(std::uint64_t bytes, std::uint64_t capacity)
{
    return bytes > Share(capacity);
}

std::vector<std::string> Victims(std::vector<StoredEntry> entries, std::uint64_t capacity)
{
    std::sort(entries.begin(), entries.end(), [](const StoredEntry& a, const StoredEntry& b) {
        return a.lastUse != b.lastUse ? a.lastUse < b.lastUse : a.name < b.name;
    });
    std::uint64_t total = 0;
    for (const StoredEntry& entry : entries)
        total += entry.size;
    const std::uint64_t target = Share(capacity) / 10 * 9;
    std::vector<std::string> victims;
    for (StoredEntry& entry : entries) {
        if (total <= target)
            break;
        total -= entry.size;
        victims.push_back(std::move(entry.name));
    }
    return victims;
}

}  // namespace zelkor::eviction
