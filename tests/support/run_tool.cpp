#include "support/run_tool.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include "support/temp_dir.h"

extern char** environ;

namespace zelkor::testing {

namespace fs = std::filesystem;

RunningTool::RunningTool(const std::string& program, const std::vector<std::string>& args,
                         const fs::path& cwd)
    : capture_(std::make_unique<TempDir>()), program_(program)
{
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

    const int rc = posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0)
        throw std::runtime_error("cannot start " + program);
}

RunningTool::~RunningTool()
{
    if (pid_ > 0) {
        ::kill(pid_, SIGKILL);
        while (::waitpid(pid_, nullptr, 0) < 0 && errno == EINTR) {
        }
    }
}

ToolRun RunningTool::Wait()
{
    int wstatus = 0;
    struct rusage usage {};
    while (wait4(pid_, &wstatus, 0, &usage) < 0) {
        if (errno != EINTR)
            throw std::runtime_error("cannot wait for " + program_);
    }
    pid_ = -1;

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

ToolRun RunProgram(const std::string& program, const std::vector<std::string>& args, const fs::path& cwd)
{
    return RunningTool(program, args, cwd).Wait();
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
