#include "platform/command_line.h"

namespace zelkor {

std::vector<std::string> CommandLineArguments(int argc, char** argv)
{
    return std::vector<std::string>(argv, argv + argc);
}

void UseBinaryStandardStreams()
{
    // POSIX streams never translate line ends.
}

}  // namespace zelkor
