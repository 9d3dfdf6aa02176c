#include "inspect/repeated_hashes.h"

#include <algorithm>
#include <utility>

namespace zelkor {

namespace {

// Sorts `values` and keeps at most two of each: enough to tell which repeat.
void Compact(std::vector<std::uint32_t>& values)
{
    std::sort(values.begin(), values.end());
    auto kept = values.begin();
    for (auto at = values.begin(); at != values.end(); ++at) {
        if (kept - values.begin() < 2 || *at != *(kept - 1) || *at != *(kept - 2))
            *kept++ = *at;
    }
    values.erase(kept, values.end());
}

}  // namespace

std::vector<std::uint32_t> RepeatedHashes(const HashPass& pass, std::uint64_t count, std::size_t budget)
{
    budget = std::max<std::size_t>(budget, 8);
    constexpr std::uint64_t Values = std::uint64_t{1} << 32;
    // Ranges of values [first, last], the lowest on top.
    std::vector<std::pair<std::uint64_t, std::uint64_t>> pending;
    const std::uint64_t parts = std::max<std::uint64_t>(1, (count + budget - 1) / budget);
    for (std::uint64_t part = parts; part-- > 0;)
        pending.emplace_back(part * Values / parts, (part + 1) * Values / parts - 1);

    std::vector<std::uint32_t> repeated;
    std::vector<std::uint32_t> held;
    held.reserve(static_cast<std::size_t>(std::min<std::uint64_t>(budget, count)));
    while (!pending.empty()) {
        const std::uint64_t first = pending.back().first;
        const std::uint64_t last = pending.back().second;
        pending.pop_back();
        held.clear();
        bool tooMany = false;
        pass([&](std::uint32_t value) {
            if (tooMany || value < first || value > last)
                return;
            held.push_back(value);
            if (held.size() == budget) {
                Compact(held);
                tooMany = held.size() > budget / 2;
            }
        });
        if (tooMany) {
            // A range of one value compacts to two, so every split ends.
            const std::uint64_t middle = first + (last - first) / 2;
            pending.emplace_back(middle + 1, last);
            pending.emplace_back(first, middle);
            continue;
        }
        Compact(held);
        for (std::size_t i = 1; i < held.size(); ++i) {
            if (held[i] == held[i - 1])
                repeated.push_back(held[i]);
        }
    }
    return repeated;
}

}  // namespace zelkor
