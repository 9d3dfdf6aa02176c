#pragma once

#include <chrono>
#include <cstdint>

namespace zelkor {

// The time of day in nanoseconds since the epoch: the clock a local file
// system stamps modification and change times by, so the two compare.
inline std::int64_t WallClockNanoseconds()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

}  // namespace zelkor
