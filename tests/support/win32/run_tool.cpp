// Starting the built tools on Windows: CreateProcessW with both output streams
// in files, as the POSIX version does with posix_spawn.
#include "support/run_tool.h"

#include <windows.h>

#include <cwchar>
#include <stdexcept>

#include "support/temp_dir.h"

namespace zelkor::testing {

namespace fs = std::filesystem;

namespace {

// One argument quoted as the C runtime's parser reads it back: backslashes
// doubled before a quote, quotes escaped.
std::wstring Quoted(const std::wstring& argument)
{
    if (!argument.empty() && argument.find_first_of(L" \t\n\v\"") == std::wstring::npos)
        return argument;
    std::wstring quoted = L"\"";
    std::size_t backslashes = 0;
    for (const wchar_t c : argument) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        quoted.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
        backslashes = 0;
        quoted += c;
    }
    quoted.append(backslashes * 2, L'\\');
    quoted += L'"';
    return quoted;
}

HANDLE Inheritable(const fs::path& path, DWORD access, DWORD disposition)
{
    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    const HANDLE handle = ::CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                        &inherit, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        throw std::runtime_error("cannot open " + path.string());
    return handle;
}

std::wstring Utf16(const std::string& utf8)
{
    return fs::path(std::u8string(utf8.begin(), utf8.end())).wstring();
}

// The process's environment without the variables `removed` and with
// `settings` ("NAME=VALUE") put in, as a block for CreateProcessW: each
// "NAME=VALUE" ends in a NUL, and a NUL ends the block.
std::wstring EnvironmentWith(const std::vector<std::wstring>& settings, const std::vector<std::wstring>& removed)
{
    std::vector<std::wstring> entries;
    if (wchar_t* current = ::GetEnvironmentStringsW()) {
        for (const wchar_t* entry = current; *entry; entry += std::wcslen(entry) + 1)
            entries.emplace_back(entry);
        ::FreeEnvironmentStringsW(current);
    }
    const auto name = [](const std::wstring& entry) { return entry.substr(0, entry.find(L'=', 1)); };
    for (const std::wstring& gone : removed)
        std::erase_if(entries, [&](const std::wstring& entry) { return _wcsicmp(name(entry).c_str(), gone.c_str()) == 0; });
    for (const std::wstring& setting : settings) {
        std::erase_if(entries, [&](const std::wstring& entry) { return _wcsicmp(name(entry).c_str(), name(setting).c_str()) == 0; });
        entries.push_back(setting);
    }
    std::wstring block;
    for (const std::wstring& entry : entries) {
        block += entry;
        block += L'\0';
    }
    block += L'\0';
    return block;
}

}  // namespace

StartedProgram::StartedProgram(const std::string& program, const std::vector<std::string>& args,
                               const fs::path& cwd)
    : program_(program), capture_(std::make_unique<TempDir>())
{
    // Tests set a variable for the program they start as POSIX systems do,
    // through /usr/bin/env [-u NAME] NAME=VALUE ... PROGRAM ARGUMENT...; on
    // Windows the settings go into the new process's environment instead.
    std::vector<std::string> rest = args;
    std::string target = program;
    std::vector<std::wstring> settings;
    std::vector<std::wstring> removed;
    const bool viaEnv = program == "/usr/bin/env";
    if (viaEnv) {
        std::size_t at = 0;
        for (;;) {
            if (at + 1 < rest.size() && rest[at] == "-u") {
                removed.push_back(Utf16(rest[at + 1]));
                at += 2;
            } else if (at < rest.size() && rest[at].find('=') != std::string::npos) {
                settings.push_back(Utf16(rest[at++]));
            } else {
                break;
            }
        }
        if (at == rest.size())
            throw std::runtime_error("no program after /usr/bin/env");
        target = rest[at];
        rest.erase(rest.begin(), rest.begin() + static_cast<std::ptrdiff_t>(at) + 1);
    }
    const fs::path executable = fs::path(Utf16(target)).make_preferred();
    std::wstring commandLine = Quoted(executable.wstring());
    for (const std::string& arg : rest)
        commandLine += L" " + Quoted(Utf16(arg));
    std::wstring environment = viaEnv ? EnvironmentWith(settings, removed) : std::wstring();

    const HANDLE input = Inheritable("NUL", GENERIC_READ, OPEN_EXISTING);
    const HANDLE output = Inheritable(*capture_ / "stdout", GENERIC_WRITE, CREATE_ALWAYS);
    const HANDLE error = Inheritable(*capture_ / "stderr", GENERIC_WRITE, CREATE_ALWAYS);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = input;
    startup.hStdOutput = output;
    startup.hStdError = error;
    PROCESS_INFORMATION started{};
    // Wine under load may fail to start a process for a moment; a few more
    // tries tell that from a program that cannot start.
    BOOL ok = FALSE;
    DWORD failure = 0;
    for (int attempt = 0; attempt < 5 && !ok; ++attempt) {
        if (attempt > 0)
            ::Sleep(100u << attempt);
        ok = ::CreateProcessW(executable.c_str(), commandLine.data(), nullptr, nullptr, TRUE,
                              CREATE_UNICODE_ENVIRONMENT, viaEnv ? environment.data() : nullptr,
                              cwd.empty() ? nullptr : cwd.c_str(), &startup, &started);
        failure = ok ? 0 : ::GetLastError();
        if (failure == ERROR_FILE_NOT_FOUND || failure == ERROR_PATH_NOT_FOUND)
            break;
    }
    ::CloseHandle(input);
    ::CloseHandle(output);
    ::CloseHandle(error);
    if (!ok)
        throw std::runtime_error("cannot start " + program + " (error " + std::to_string(failure) + ")");
    ::CloseHandle(started.hThread);
    process_ = started.hProcess;
    pid_ = static_cast<pid_t>(started.dwProcessId);
}

StartedProgram::~StartedProgram()
{
    if (process_) {
        ::TerminateProcess(process_, 1);
        ::WaitForSingleObject(process_, INFINITE);
        ::CloseHandle(process_);
    }
}

void StartedProgram::Signal(int)
{
    // Windows has no signals to send to another program; ending it is all there is.
    if (process_)
        ::TerminateProcess(process_, 1);
}

ToolRun StartedProgram::Wait()
{
    if (::WaitForSingleObject(process_, INFINITE) != WAIT_OBJECT_0)
        throw std::runtime_error("cannot wait for " + program_);
    DWORD code = 0;
    ::GetExitCodeProcess(process_, &code);
    ::CloseHandle(process_);
    process_ = nullptr;
    pid_ = 0;

    ToolRun run;
    run.out = ReadFile(*capture_ / "stdout");
    run.err = ReadFile(*capture_ / "stderr");
    run.status = static_cast<int>(code);
    return run;
}

ToolRun RunProgram(const std::string& program, const std::vector<std::string>& args, const fs::path& cwd)
{
    return StartedProgram(program, args, cwd).Wait();
}

std::string RunOnTerminal(const std::string&, const std::vector<std::string>&, const std::filesystem::path&)
{
    return "no pseudo-terminal";
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
