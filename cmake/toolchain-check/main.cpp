// zelkor-toolchain-check: runs one small use of every library the programs link
// and says which failed. A cross build runs it on the target system (under Wine
// for Windows) before anything else.
#include <iostream>

#include <CLI/CLI.hpp>

#include "dependency_checks.h"

int main(int argc, char** argv) {
    CLI::App app{"Checks that every library the programs link works on this system."};
    bool quiet = false;
    app.add_flag("-q,--quiet", quiet, "print nothing when every check passes");
    CLI11_PARSE(app, argc, argv);

    const auto failed = toolchain_check::FailedChecks();
    for (const auto& name : failed) std::cerr << "zelkor-toolchain-check: " << name << " failed\n";
    if (failed.empty() && !quiet) {
        std::cout << "every library works (" << toolchain_check::WorkerCount() << " workers)\n";
    }
    return failed.empty() ? 0 : 1;
}
