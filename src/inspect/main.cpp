#include <iostream>
#include <string>
#include <vector>

#include "inspect/inspector.h"
#include "platform/command_line.h"
#include "platform/signal_cleanup.h"

int main(int argc, char** argv)
{
    zelkor::SignalCleanup::Install();
    zelkor::UseBinaryStandardStreams();
    const std::vector<std::string> arguments = zelkor::CommandLineArguments(argc, argv);
    std::vector<const char*> pointers;
    for (const std::string& argument : arguments)
        pointers.push_back(argument.c_str());
    pointers.push_back(nullptr);
    return zelkor::RunInspector(static_cast<int>(arguments.size()), pointers.data(), std::cout, std::cerr);
}
