#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

namespace zelkor {

// One status line at the bottom of a terminal, for long runs: items done of all,
// megabytes read, the rate, and an estimate of the time left. It is rewritten in
// place at most ten times a second (by a thread of its own, so that it moves
// while one large item takes long), lines written through WriteAbove appear
// above it, and it is cleared when the object goes.
//
// Only ever made for a terminal: elsewhere (logs, pipes, files) the output
// stays exactly what it is without it. Thread-safe.
class ProgressLine {
public:
    // A line on the terminal at standard error, or null when standard error is
    // not a terminal. `items` is what the count runs up to ("files"),
    // `totalBytes` the bytes that all of them will have read (0 when unknown:
    // no estimate).
    static std::unique_ptr<ProgressLine> ForStandardError(std::string_view items, std::uint64_t totalItems,
                                                          std::uint64_t totalBytes);

    ~ProgressLine();
    ProgressLine(const ProgressLine&) = delete;
    ProgressLine& operator=(const ProgressLine&) = delete;

    void Advance(std::uint64_t items, std::uint64_t bytes);

    // Writes `lines` (whole lines, each ending in a line feed) above the status
    // line, which is drawn again below them.
    void WriteAbove(std::string_view lines);

    // The status line's text for these figures, as drawn (without the
    // terminal's control sequences), for `seconds` since the start.
    static std::string Format(std::string_view items, std::uint64_t done, std::uint64_t total,
                              std::uint64_t bytes, std::uint64_t totalBytes, double seconds);

private:
    ProgressLine(std::string_view items, std::uint64_t totalItems, std::uint64_t totalBytes);
    void Tick();
    // Draws the line after `before`, in one write; the mutex is held.
    void DrawLocked(std::string_view before);

    const std::string items_;
    const std::uint64_t totalItems_;
    const std::uint64_t totalBytes_;
    const std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
    std::atomic<std::uint64_t> done_{0};
    std::atomic<std::uint64_t> bytes_{0};

    std::mutex mutex_;
    std::condition_variable wake_;
    bool stopping_ = false;
    std::thread ticker_;
};

}  // namespace zelkor
