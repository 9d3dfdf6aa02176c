#pragma once

#include <algorithm>
#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace zelkor {

// The memory that the sources in flight may hold, shared by every pack command
// of a run. Before a source is loaded its loader reserves what loading it needs
// (FileJob::MemoryNeeded), so that large sources run fewer at a time as they
// fill the budget, and small ones many at a time. A source that needs more than
// the whole budget waits until nothing else is reserved and then runs alone:
// none is refused for its size.
//
// Thread-safe. Reservations hand their bytes back when destroyed; the budget
// must outlive them.
class MemoryBudget {
public:
    explicit MemoryBudget(std::uint64_t bytes) : bytes_(bytes) {}
    ~MemoryBudget();
    MemoryBudget(const MemoryBudget&) = delete;
    MemoryBudget& operator=(const MemoryBudget&) = delete;

    class Reservation {
    public:
        Reservation() = default;
        Reservation(Reservation&& other) noexcept;
        Reservation& operator=(Reservation&& other) noexcept;
        ~Reservation() { Release(); }

        // Hands the bytes back now.
        void Release();
        explicit operator bool() const { return budget_ != nullptr; }

    private:
        friend class MemoryBudget;
        Reservation(MemoryBudget* budget, std::uint64_t bytes) : budget_(budget), bytes_(bytes) {}

        MemoryBudget* budget_ = nullptr;
        std::uint64_t bytes_ = 0;
    };

    // Reserves `bytes` when they fit beside what is reserved, or when nothing
    // is. With `wait`, waits until then; without, an empty reservation when
    // they do not fit now. The caller must hold no reservation while it waits,
    // or two waiters could wait for each other.
    Reservation Reserve(std::uint64_t bytes, bool wait);

    std::uint64_t Bytes() const { return bytes_; }
    // The most that was reserved at once so far.
    std::uint64_t Peak() const;

private:
    bool Fits(std::uint64_t bytes) const { return reserved_ == 0 || bytes <= bytes_ - std::min(bytes_, reserved_); }
    void Give(std::uint64_t bytes);

    const std::uint64_t bytes_;
    mutable std::mutex mutex_;
    std::condition_variable released_;
    std::uint64_t reserved_ = 0;
    std::uint64_t peak_ = 0;
};

}  // namespace zelkor
