#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace zelkor {

// What the environment asks of a run's resources, read once per run
// (FromEnvironment): ZELKOR_THREADS, the worker threads (unset, empty or 0:
// one per hardware thread, as lz4 -T0 and zstd -T0 take it), and
// ZELKOR_MEMORY, the memory budget of the sources in flight (unset or empty:
// half the physical memory). A value that is neither is named in a warning
// and the default used.
struct RunSettings {
    // More threads than this are taken for a typing error.
    static constexpr unsigned MaxThreads = 4096;

    unsigned threads = 0;  // 0: one per hardware thread
    std::optional<std::uint64_t> memory;
    // The values that were not understood, as they were set; empty when none.
    std::string badThreads;
    std::string badMemory;

    using Lookup = std::function<const char*(const char* name)>;
    static RunSettings FromEnvironment(const Lookup& lookup);
    static RunSettings FromEnvironment();

    // "ZELKOR_THREADS=... is not a number of threads, ..." and the like.
    std::vector<std::string> Warnings() const;

    // The worker threads, given the hardware threads.
    unsigned Threads(unsigned hardware) const { return threads != 0 ? threads : hardware; }
    // The memory budget, given the physical memory (0 when unknown, taken
    // as 4 GiB).
    std::uint64_t MemoryBudget(std::uint64_t physical) const;
};

}  // namespace zelkor
