#include "platform/wall_clock.h"

#include <atomic>
#include <chrono>

namespace zelkor {

namespace {

std::atomic<std::int64_t> ahead{0};

}  // namespace

std::int64_t WallClockNanoseconds()
{
    const std::int64_t now =
        std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::system_clock::now().time_since_epoch())
            .count();
    return now + ahead.load(std::memory_order_relaxed);
}

void RunWallClockAhead(std::int64_t nanoseconds)
{
    ahead.store(nanoseconds, std::memory_order_relaxed);
}

}  // namespace zelkor
