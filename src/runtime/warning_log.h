#pragma once

#include <atomic>
#include <iosfwd>
#include <mutex>
#include <string>

namespace zelkor {

class ProgressLine;

// Collects the per-file warnings of a run ("Cannot compress ...!" and the like).
// Each warning is one complete line, written to the stream in a single write and
// flushed, so lines of scripts that run at the same time never mix within a line.
// The log remembers whether any warning was written, and whether any said that
// an output was not written; the driver turns that into the run's exit status.
//
// Thread-safe: any number of threads may call Warn at once.
class WarningLog {
public:
    // The stream must outlive the log. The default is the standard error stream.
    WarningLog();
    explicit WarningLog(std::ostream& out);

    WarningLog(const WarningLog&) = delete;
    WarningLog& operator=(const WarningLog&) = delete;

    // Writes `line` followed by a line end, its control characters shown as
    // \xNN and NUL bytes as \0 (ShowControls).
    void Warn(const std::string& line);
    // The same for a warning that an output asked for was not written
    // (Cannot create, Cannot write, none of a command's files stored).
    void NotWritten(const std::string& line);

    // From now on, warnings are written above `progress` (null: plainly again).
    void SetProgress(ProgressLine* progress);

    // True once at least one warning has been written.
    bool Any() const { return count_.load() != 0; }
    unsigned Count() const { return count_.load(); }
    // How many of them said that an output was not written.
    unsigned NotWrittenCount() const { return notWritten_.load(); }

private:
    std::ostream& out_;
    std::mutex mutex_;
    ProgressLine* progress_ = nullptr;
    std::atomic<unsigned> count_{0};
    std::atomic<unsigned> notWritten_{0};
};

}  // namespace zelkor
