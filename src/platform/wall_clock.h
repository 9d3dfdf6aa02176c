#pragma once

#include <chrono>
#include <cstdint>
#include <limits>

namespace zelkor {

// The time of day in nanoseconds since the epoch: the clock a local file
// system stamps modification and change times by, so the two compare.
std::int64_t WallClockNanoseconds();

// Runs WallClockNanoseconds `nanoseconds` ahead of the system's clock (behind
// when negative), for a test program that must see files as written that long
// before it looks at them, without waiting for the time to pass. Called before
// any other thread reads the clock; the tools themselves never call it.
void RunWallClockAhead(std::int64_t nanoseconds);

// How long before `now` the time `then` lies (negative for a later time),
// saturated at the ends of the range: a time read from a file may be anything.
inline std::int64_t NanosecondsSince(std::int64_t now, std::int64_t then)
{
    constexpr std::int64_t Most = std::numeric_limits<std::int64_t>::max();
    constexpr std::int64_t Least = std::numeric_limits<std::int64_t>::min();
    if (then < 0 && now > Most + then)
        return Most;
    if (then > 0 && now < Least + then)
        return Least;
    return now - then;
}

}  // namespace zelkor
