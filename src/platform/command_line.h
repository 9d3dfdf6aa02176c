#pragma once

#include <string>
#include <vector>

namespace zelkor {

// The start of a tool's main, before anything is printed or read.

// The process's arguments as UTF-8, program name first. On POSIX systems they
// are argv as given; on Windows they are read from the system's wide command
// line, since argv there holds them in the system's code page, which cannot
// spell every name.
std::vector<std::string> CommandLineArguments(int argc, char** argv);

// Standard output and standard error pass bytes through unchanged (Windows
// would otherwise write every "\n" as "\r\n"), so that the tools print the
// same bytes on every system. A Windows console, which would show UTF-8 as
// letters of its code page, gets the text as UTF-16 instead.
void UseBinaryStandardStreams();

}  // namespace zelkor
