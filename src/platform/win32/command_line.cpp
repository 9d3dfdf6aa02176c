#include "platform/command_line.h"

#include <windows.h>
#include <shellapi.h>

#include <fcntl.h>
#include <io.h>
#include <cstdio>
#include <iostream>
#include <optional>

#include "platform/win32/console_stream_buffer.h"
#include "platform/win32/wide_path.h"

namespace zelkor {

std::vector<std::string> CommandLineArguments(int argc, char** argv)
{
    int count = 0;
    LPWSTR* wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    if (!wide)
        return std::vector<std::string>(argv, argv + argc);
    std::vector<std::string> arguments;
    arguments.reserve(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i)
        arguments.push_back(win32::Narrow(wide[i]));
    ::LocalFree(wide);
    return arguments;
}

void UseBinaryStandardStreams()
{
    (void)::_setmode(::_fileno(stdout), _O_BINARY);
    (void)::_setmode(::_fileno(stderr), _O_BINARY);
    // Made after the standard streams, so gone before their last flush.
    static std::optional<win32::ConsoleStreamBuffer> output;
    static std::optional<win32::ConsoleStreamBuffer> error;
    if (const HANDLE handle = ::GetStdHandle(STD_OUTPUT_HANDLE); !output && win32::IsConsole(handle))
        output.emplace(handle, std::cout);
    if (const HANDLE handle = ::GetStdHandle(STD_ERROR_HANDLE); !error && win32::IsConsole(handle))
        error.emplace(handle, std::cerr);
}

}  // namespace zelkor
