#pragma once

#include <memory>
#include <ostream>

#include "inspect/inspect_command.h"

namespace zelkor {

// The command line of zelkor-inspect: one subcommand of the table in the .cpp,
// with its own options (docs/inspect.md), or --help / --version.
class InspectCommandLine {
public:
    struct Parsed {
        std::unique_ptr<InspectCommand> command;  // null when the run ends here
        int status = 0;
    };

    // The chosen command with its options set, to be run; or none after --help or
    // --version (written to `out`, status 0) or a bad command line (its message
    // on `err`, status ExitFailure).
    static Parsed Parse(int argc, const char* const* argv, std::ostream& out, std::ostream& err);
};

}  // namespace zelkor
