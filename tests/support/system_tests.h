#pragma once

#include <filesystem>

#include <gtest/gtest.h>

namespace zelkor::testing {

// Marks a test of a behaviour only POSIX systems have (signals, FIFOs, /proc,
// ulimit, permission bits, a pseudo-terminal): on Windows it is skipped, and
// the reason shows in the test's output.
#ifdef _WIN32
#define ZELKOR_POSIX_ONLY(reason) GTEST_SKIP() << "POSIX only: " << (reason)
#else
#define ZELKOR_POSIX_ONLY(reason) static_cast<void>(reason)
#endif

// Whether the tests run on Windows, for rows of a table that hold there alone.
#ifdef _WIN32
constexpr bool OnWindows = true;
#else
constexpr bool OnWindows = false;
#endif

// Makes a symbolic link at `link` to `target` (a directory link when
// `directory`), as std::filesystem does on POSIX systems; on Windows through
// CreateSymbolicLinkW, which the standard library there does not offer. False
// when the system makes none (Windows without the right to, or Wine, whose
// call reports success and makes nothing): the test then skips what needs it.
[[nodiscard]] bool MakeSymlink(const std::filesystem::path& target, const std::filesystem::path& link,
                               bool directory = false);

// Whether the tests run under Wine, which keeps some Windows behaviours from
// them (an open directory renamed keeps no handle that finds its new place).
bool RunningUnderWine();

// Holds the file at `path` open as another program can on Windows: with share
// mode 0, so that no other open of it succeeds while the hold lasts (the file
// is created when missing). On POSIX systems, which have no such opens, it
// holds nothing.
class ExclusiveHold {
public:
    explicit ExclusiveHold(const std::filesystem::path& path);
    ~ExclusiveHold();
    ExclusiveHold(const ExclusiveHold&) = delete;
    ExclusiveHold& operator=(const ExclusiveHold&) = delete;

private:
    void* handle_ = nullptr;
};

}  // namespace zelkor::testing
