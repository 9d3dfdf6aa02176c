#pragma once

#include <filesystem>
#include <memory>

#include <sys/types.h>
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

// A program started in the background, with standard input empty and both
// output streams collected. Killed and waited for on destruction when it is
// still running.
class StartedProgram {
public:
    StartedProgram(const std::string& program, const std::vector<std::string>& args,
                   const std::filesystem::path& cwd);
    ~StartedProgram();
    StartedProgram(const StartedProgram&) = delete;
    StartedProgram& operator=(const StartedProgram&) = delete;

    // The process, to signal or watch while it runs; 0 once waited for.
    pid_t Pid() const { return pid_; }
    void Signal(int signal);
    // Waits for the program to end.
    ToolRun Wait();

private:
    std::string program_;
    std::unique_ptr<TempDir> capture_;
    pid_t pid_ = 0;
#ifdef _WIN32
    void* process_ = nullptr;  // the process's handle, until waited for
#endif
};

// Runs `program` with `args` (after argument 0, the program itself) in the working
// directory `cwd`, with standard input empty, and collects both output streams.
ToolRun RunProgram(const std::string& program, const std::vector<std::string>& args,
                   const std::filesystem::path& cwd);

// Runs `program` with standard error on a pseudo-terminal of 200 columns and
// standard output on /dev/null; what the terminal received.
std::string RunOnTerminal(const std::string& program, const std::vector<std::string>& args,
                          const std::filesystem::path& cwd);

// Runs the built archiver.
ToolRun RunZelkor(const std::vector<std::string>& args, const std::filesystem::path& cwd);

// Runs the built inspection tool.
ToolRun RunInspect(const std::vector<std::string>& args, const std::filesystem::path& cwd);

// The banner that a run with `scripts` script arguments prints first.
std::string Banner(std::size_t scripts);

}  // namespace zelkor::testing
