#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace zelkor {

// What the environment asks of the compression cache, read once per program
// (FromEnvironment) and handed down: ZELKOR_CACHE_DIR names the directory (unset
// or empty: no cache), ZELKOR_CACHE_SIZE caps it.
struct CacheSettings {
    static constexpr std::uint64_t DefaultCapacity = std::uint64_t{5} << 30;

    std::string directory;
    std::uint64_t capacity = DefaultCapacity;
    // A ZELKOR_CACHE_SIZE that is not a size, as it was set (the default cap is
    // used then); empty when there is none.
    std::string badSize;

    // Reads both variables through `lookup` (getenv's contract: null when unset).
    using Lookup = const char* (*)(const char* name);
    static CacheSettings FromEnvironment(Lookup lookup);
    static CacheSettings FromEnvironment();

    bool Enabled() const { return !directory.empty(); }

    // `ZELKOR_CACHE_SIZE="VALUE" is not a size, taken as 5G!` for a bad size,
    // the same words in both programs; empty when the size is good.
    std::string Warning() const;

    // "5G", "500M", "64K" (either case) or a number of bytes, up to 2^64 - 1;
    // nothing when the text is none of these or the size does not fit.
    static std::optional<std::uint64_t> ParseSize(std::string_view text);
    // A size as ParseSize reads it, in the largest unit that keeps it whole.
    static std::string ShowSize(std::uint64_t size);
};

}  // namespace zelkor
