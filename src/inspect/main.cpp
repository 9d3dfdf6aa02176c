#include <iostream>
#include <string>
#include <vector>

#include "inspect/inspector.h"
#include "output/signal_cleanup.h"
#include "platform/command_line.h"

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
