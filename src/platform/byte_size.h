#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace zelkor {

// Sizes as people write them in settings and scripts: a number of bytes, or a
// number followed by K, M or G (either case; 1024, 1024^2, 1024^3 bytes).

// "5G", "500M", "64K" or a number of bytes, up to 2^64 - 1; nothing when the
// text is none of these (a sign, a space, a fraction, another unit) or the
// size does not fit.
std::optional<std::uint64_t> ParseByteSize(std::string_view text);

// A size as ParseByteSize reads it, in the largest unit that keeps it whole.
std::string ShowByteSize(std::uint64_t size);

}  // namespace zelkor
