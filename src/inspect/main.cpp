#include <iostream>

#include "inspect/inspector.h"
#include "platform/signal_cleanup.h"

int main(int argc, char** argv)
{
    zelkor::SignalCleanup::Install();
    return zelkor::RunInspector(argc, argv, std::cout, std::cerr);
}
