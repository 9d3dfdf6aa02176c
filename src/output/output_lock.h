#pragma once

#include <string>

#include "output/signal_cleanup.h"
#include "platform/file.h"

namespace zelkor {

// The lock of one output: a file ".NAME.zelkor-lock" beside the output, held
// with File::Lock. Every writer of NAME (an OutputGuard with `lock`) and
// whatever completes a commit left behind there takes it first, from this
// process or another; while one holds it, the others' Take fails at once.
// The lock file is removed when the lock is released, and by SignalCleanup when
// a signal ends the process. Move-only; releases on destruction. Used by one
// thread at a time.
class OutputLock {
public:
    OutputLock() = default;
    ~OutputLock() { Release(); }
    OutputLock(OutputLock&&) noexcept = default;
    OutputLock& operator=(OutputLock&& other) noexcept;
    OutputLock(const OutputLock&) = delete;
    OutputLock& operator=(const OutputLock&) = delete;

    // Takes the lock of `name` in `directory` ("" for the working directory, or
    // a path ending in a slash), without waiting. False when it cannot: Held()
    // then tells whether another holder is the reason.
    bool Take(const std::string& directory, const std::string& name);

    bool Taken() const { return file_.IsOpen(); }
    bool Held() const { return held_; }

    // Removes the lock file and gives up the lock; nothing when not taken.
    void Release();

private:
    std::string path_;
    File file_;
    SignalCleanup::Registration cleanup_;
    bool held_ = false;
};

}  // namespace zelkor
