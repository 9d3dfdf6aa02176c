#pragma once

#include <sys/types.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace zelkor::testing {

// What one run of a built tool did.
struct ToolRun {
    std::string out;   // everything written to standard output
    std::string err;   // everything written to standard error
    int status = -1;   // exit status; 128 + signal number when a signal ended it
    long peakResidentKiB = 0;  // the most memory the process held resident
};

class TempDir;

// A program started and not yet waited for, so that a test can act on it while
// it runs (send it signals, say). Its output goes to files, so it never blocks
// on a full pipe. Killed and reaped on destruction if Wait was not called.
class RunningTool {
public:
    // Starts `program` with `args` (argument 0 is the program itself) in the
    // working directory `cwd`, with standard input empty.
    RunningTool(const std::string& program, const std::vector<std::string>& args,
                const std::filesystem::path& cwd);
    ~RunningTool();
    RunningTool(const RunningTool&) = delete;
    RunningTool& operator=(const RunningTool&) = delete;

    pid_t Pid() const { return pid_; }

    // Waits for the program to end and collects what it did.
    ToolRun Wait();

private:
    std::unique_ptr<TempDir> capture_;
    std::string program_;
    pid_t pid_ = -1;
};

// Runs `program` with `args` (argument 0 is the program itself) in the working
// directory `cwd`, with standard input empty, and collects both output streams.
ToolRun RunProgram(const std::string& program, const std::vector<std::string>& args,
                   const std::filesystem::path& cwd);

// Runs the built archiver.
ToolRun RunZelkor(const std::vector<std::string>& args, const std::filesystem::path& cwd);

// Runs the built inspection tool.
ToolRun RunInspect(const std::vector<std::string>& args, const std::filesystem::path& cwd);

// The banner that a run with `scripts` script arguments prints first.
std::string Banner(std::size_t scripts);

}  // namespace zelkor::testing
