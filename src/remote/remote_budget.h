#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <mutex>

namespace zelkor {

// How much of a run a remote cache may cost in lookups that bring nothing. A
// server that answers every GET with a 404 just inside the timeout would
// otherwise cost about sources × timeout ÷ threads, without a word. The remote
// is given up after MaxSlow slow misses (each taking at least a quarter of the
// request timeout, or a second when that is less), or once its misses
// together have taken more than ShareFloor and more than half of the time of
// the threads that wait on them since the budget began. Lookups that find an
// entry are not counted: a large entry takes its time, and saves compressing.
//
// Thread-safe.
class RemoteBudget {
public:
    using Clock = std::function<std::chrono::steady_clock::time_point()>;

    static constexpr int MaxSlow = 8;
    static constexpr std::chrono::seconds ShareFloor{10};

    // `clock` null: the steady clock.
    RemoteBudget(std::chrono::milliseconds requestTimeout, Clock clock);

    std::chrono::steady_clock::time_point Now() const;

    // A lookup that began at `began` brought nothing, now; `lanes` threads may
    // wait on the remote at once. False once the budget is spent.
    bool Missed(std::chrono::steady_clock::time_point began, std::size_t lanes);

    bool Spent() const;

private:
    const Clock clock_;
    const std::chrono::steady_clock::duration slow_;
    const std::chrono::steady_clock::time_point started_;
    mutable std::mutex mutex_;
    int slowMisses_ = 0;
    std::chrono::steady_clock::duration missing_{};
    bool spent_ = false;
};

}  // namespace zelkor
