// The wall clock, and the seam that runs it ahead for a test program.
#include "platform/wall_clock.h"

#include <chrono>
#include <cstdint>
#include <limits>

#include <gtest/gtest.h>

namespace zelkor {
namespace {

std::int64_t SystemNanoseconds()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

TEST(WallClockTest, RunsAheadOrBehindOnlyWhenAskedTo)
{
    constexpr std::int64_t Hour = std::int64_t{3600} * 1'000'000'000;
    constexpr std::int64_t Minute = Hour / 60;
    for (const std::int64_t ahead : {Hour, -Hour, std::int64_t{0}}) {
        RunWallClockAhead(ahead);
        const std::int64_t drift = WallClockNanoseconds() - SystemNanoseconds() - ahead;
        EXPECT_LT(drift < 0 ? -drift : drift, Minute) << ahead;
    }
    EXPECT_EQ(NanosecondsSince(5, 2), 3);
    EXPECT_EQ(NanosecondsSince(std::numeric_limits<std::int64_t>::min(), 1), std::numeric_limits<std::int64_t>::min());
}

}  // namespace
}  // namespace zelkor
