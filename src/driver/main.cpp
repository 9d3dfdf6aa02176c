#include <string>
#include <vector>

#include "driver/driver.h"
#include "platform/command_line.h"
#include "platform/signal_cleanup.h"

int main(int argc, char** argv)
{
    zelkor::SignalCleanup::Install();
    zelkor::UseBinaryStandardStreams();
    std::vector<std::string> arguments = zelkor::CommandLineArguments(argc, argv);
    std::vector<char*> pointers;
    for (std::string& argument : arguments)
        pointers.push_back(argument.data());
    pointers.push_back(nullptr);
    return zelkor::RunArchiver(static_cast<int>(arguments.size()), pointers.data());
}
