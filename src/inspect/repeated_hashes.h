#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

namespace zelkor {

// Calls its argument once for every value of one pass over the data.
using HashPass = std::function<void(const std::function<void(std::uint32_t)>&)>;

// The values that occur more than once among those that `pass` gives, sorted,
// each once. At most `budget` values (at least 8) are held at a time: with more,
// the values are collected range by range, one pass per range, and a range that
// holds too many different values is split in two and passed over again. So
// memory stays bounded whatever the count and however the values are spread;
// the cost is extra passes. `count` is how many values one pass gives.
std::vector<std::uint32_t> RepeatedHashes(const HashPass& pass, std::uint64_t count, std::size_t budget);

}  // namespace zelkor
