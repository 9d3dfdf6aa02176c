#pragma once

#include <optional>
#include <ostream>

#include "inspect/inspect_options.h"

namespace zelkor {

// The command line of zelkor-inspect, parsed with CLI11:
//
//   zelkor-inspect list    ARCHIVE [PATTERN...] [--key FILE | --no-key] [--json]
//   zelkor-inspect verify  ARCHIVE [PATTERN...] [--key FILE | --no-key] [--json]
//   zelkor-inspect extract ARCHIVE [PATTERN...] [--key FILE | --no-key] [-o DIR] [--force]
//   zelkor-inspect diff    OLD NEW [--key FILE | --no-key] [--new-key FILE | --new-no-key] [--json]
//
// plus --help (also after a command) and --version.
class InspectCommandLine {
public:
    // The options, or nothing when the run ends here: after --help or --version
    // (written to `out`, status 0) or a bad command line (message on `err`,
    // CLI11's status). `status` is set in both cases.
    static std::optional<InspectOptions> Parse(int argc, const char* const* argv, std::ostream& out,
                                               std::ostream& err, int& status);
};

}  // namespace zelkor
