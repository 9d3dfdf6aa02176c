#include "support/run_tool.h"

#include <fcntl.h>
#include <pty.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <thread>

#include "support/temp_dir.h"

extern char** environ;

namespace zelkor::testing {

namespace fs = std::filesystem;

StartedProgram::StartedProgram(const std::string& program, const std::vector<std::string>& args,
                               const fs::path& cwd)
    : program_(program), capture_(std::make_unique<TempDir>())
{
    // Output goes to files rather than pipes, so a chatty child can never block on
    // a full pipe while we wait for it.
    const fs::path outPath = *capture_ / "stdout";
    const fs::path errPath = *capture_ / "stderr";

    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const auto& arg : args)
        argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addchdir_np(&actions, cwd.c_str());

    // A machine under load may refuse a new process for a moment (EAGAIN);
    // a few more tries tell that from a program that cannot start.
    int rc = 0;
    for (int attempt = 0; attempt < 5; ++attempt) {
        rc = posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), environ);
        if (rc != EAGAIN && rc != ETXTBSY)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(100 << attempt));
    }
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0)
        throw std::runtime_error("cannot start " + program + ": " + std::strerror(rc));
}

StartedProgram::~StartedProgram()
{
    if (pid_ > 0) {
        ::kill(pid_, SIGKILL);
        int ignored = 0;
        while (waitpid(pid_, &ignored, 0) < 0 && errno == EINTR) {
        }
    }
}

void StartedProgram::Signal(int signal)
{
    if (pid_ > 0)
        ::kill(pid_, signal);
}

ToolRun StartedProgram::Wait()
{
    int wstatus = 0;
    struct rusage usage {};
    while (wait4(pid_, &wstatus, 0, &usage) < 0) {
        if (errno != EINTR)
            throw std::runtime_error("cannot wait for " + program_);
    }
    pid_ = 0;

    ToolRun run;
    run.peakResidentKiB = usage.ru_maxrss;
    run.out = ReadFile(*capture_ / "stdout");
    run.err = ReadFile(*capture_ / "stderr");
    if (WIFEXITED(wstatus))
        run.status = WEXITSTATUS(wstatus);
    else if (WIFSIGNALED(wstatus))
        run.status = 128 + WTERMSIG(wstatus);
    return run;
}

ToolRun RunProgram(const std::string& program, const std::vector<std::string>& args,
                   const fs::path& cwd)
{
    return StartedProgram(program, args, cwd).Wait();
}

std::string RunOnTerminal(const std::string& program, const std::vector<std::string>& args,
                          const std::filesystem::path& cwd)
{
    int master = -1;
    int slave = -1;
    winsize size{};
    size.ws_col = 200;
    size.ws_row = 24;
    if (::openpty(&master, &slave, nullptr, nullptr, &size) != 0)
        return "no pseudo-terminal";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, slave, 2);
    posix_spawn_file_actions_addclose(&actions, master);
    posix_spawn_file_actions_addchdir_np(&actions, cwd.c_str());
    std::vector<char*> argv = {const_cast<char*>(program.c_str())};
    for (const std::string& arg : args)
        argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    pid_t pid = 0;
    const int rc = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(slave);
    std::string received;
    char buffer[4096];
    // Reading ends with EIO once the program has closed the terminal.
    for (ssize_t got; rc == 0 && (got = ::read(master, buffer, sizeof buffer)) != 0;) {
        if (got < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        received.append(buffer, static_cast<std::size_t>(got));
    }
    ::close(master);
    int status = 0;
    if (rc == 0)
        ::waitpid(pid, &status, 0);
    return received;
}

ToolRun RunZelkor(const std::vector<std::string>& args, const fs::path& cwd)
{
    return RunProgram(ZELKOR_BINARY, args, cwd);
}

ToolRun RunInspect(const std::vector<std::string>& args, const fs::path& cwd)
{
    return RunProgram(ZELKOR_INSPECT_BINARY, args, cwd);
}

std::string Banner(std::size_t scripts)
{
    std::string banner = "--- Zelkor Archiver v2.5 ---\n";
    banner += scripts >= 5 ? "Take a cup of coffee, this could take a while\n"
                           : "\"Sheeeeesh!\" - Tamblor 2014\n";
    banner += "\n";
    return banner;
}

}  // namespace zelkor::testing
