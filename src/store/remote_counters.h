#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace zelkor {

// What one run did with a remote compression cache, kept in the local cache
// directory's `remote` file for zelkor-inspect (the last run's only: each run
// that has both replaces it).
struct RemoteCounters {
    std::uint64_t hits = 0;            // entries taken from the remote, checked good
    std::uint64_t misses = 0;          // entries the remote did not have
    std::uint64_t damaged = 0;         // entries that failed the checks (each a miss too)
    std::uint64_t uploads = 0;         // entries written to the remote
    std::uint64_t uploadsDropped = 0;  // entries not written: the queue full, the run's end, the remote gone
    std::uint64_t bytesDown = 0;       // bytes of entries received
    std::uint64_t bytesUp = 0;         // bytes of entries sent
    bool unusable = false;             // the remote was given up during the run

    // The `remote` file: the counters above as 64-bit little-endian numbers in
    // that order (`unusable` as 0 or 1), then the URL as shown, to the end of the
    // file. Nothing when the file is shorter than the numbers.
    static constexpr std::size_t NumbersSize = 64;
    static constexpr std::size_t LongestUrl = 4096;
    std::vector<std::uint8_t> Encode(const std::string& url) const;
    struct Record;
    static std::optional<Record> Decode(std::span<const std::uint8_t> bytes);
};

struct RemoteCounters::Record {
    std::string url;
    RemoteCounters counters;
};

}  // namespace zelkor
