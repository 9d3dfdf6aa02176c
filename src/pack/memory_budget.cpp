#include "pack/memory_budget.h"

#include <algorithm>
#include <utility>

namespace zelkor {

MemoryBudget::Reservation::Reservation(Reservation&& other) noexcept
    : budget_(std::exchange(other.budget_, nullptr)), bytes_(std::exchange(other.bytes_, 0))
{
}

MemoryBudget::Reservation& MemoryBudget::Reservation::operator=(Reservation&& other) noexcept
{
    if (this != &other) {
        Release();
        budget_ = std::exchange(other.budget_, nullptr);
        bytes_ = std::exchange(other.bytes_, 0);
    }
    return *this;
}

void MemoryBudget::Reservation::Release()
{
    if (budget_)
        std::exchange(budget_, nullptr)->Give(std::exchange(bytes_, 0));
}

MemoryBudget::Reservation MemoryBudget::Reserve(std::uint64_t bytes, bool wait)
{
    std::unique_lock<std::mutex> lock(mutex_);
    if (wait)
        released_.wait(lock, [&] { return Fits(bytes); });
    else if (!Fits(bytes))
        return {};
    reserved_ += bytes;
    peak_ = std::max(peak_, reserved_);
    return Reservation(this, bytes);
}

std::uint64_t MemoryBudget::Peak() const
{
    const std::lock_guard<std::mutex> lock(mutex_);
    return peak_;
}

void MemoryBudget::Give(std::uint64_t bytes)
{
    // Notified under the lock: the last reservation may be handed back on a
    // worker just before the budget's owner destroys it, and the destructor
    // takes the lock, so the condition variable is never destroyed while a
    // notification is still under way.
    const std::lock_guard<std::mutex> lock(mutex_);
    reserved_ -= bytes;
    released_.notify_all();
}

MemoryBudget::~MemoryBudget()
{
    const std::lock_guard<std::mutex> lock(mutex_);
}

}  // namespace zelkor
