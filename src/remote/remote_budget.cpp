#include "remote/remote_budget.h"

#include <algorithm>
#include <cstdint>

namespace zelkor {

namespace {

RemoteBudget::Clock ClockOr(RemoteBudget::Clock clock)
{
    if (clock)
        return clock;
    return [] { return std::chrono::steady_clock::now(); };
}

}  // namespace

RemoteBudget::RemoteBudget(std::chrono::milliseconds requestTimeout, Clock clock)
    : clock_(ClockOr(std::move(clock))),
      slow_(std::min<std::chrono::steady_clock::duration>(requestTimeout / 4, std::chrono::seconds(1))),
      started_(clock_())
{
}

std::chrono::steady_clock::time_point RemoteBudget::Now() const
{
    return clock_();
}

bool RemoteBudget::Missed(std::chrono::steady_clock::time_point began, std::size_t lanes)
{
    const std::chrono::steady_clock::time_point now = clock_();
    const std::chrono::steady_clock::duration took = now - began;
    const std::lock_guard<std::mutex> lock(mutex_);
    if (took >= slow_)
        ++slowMisses_;
    missing_ += took;
    const auto lanesTime = (now - started_) * static_cast<std::int64_t>(std::max<std::size_t>(lanes, 1));
    if (slowMisses_ >= MaxSlow || (missing_ > ShareFloor && missing_ * 2 > lanesTime))
        spent_ = true;
    return !spent_;
}

bool RemoteBudget::Spent() const
{
    const std::lock_guard<std::mutex> lock(mutex_);
    return spent_;
}

}  // namespace zelkor
