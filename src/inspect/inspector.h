#pragma once

#include <ostream>

namespace zelkor {

// Runs zelkor-inspect with its command line and returns the exit status
// (runtime/exit_status.h): ExitSuccess all good; ExitWarnings when verify found
// bad entries, extract did not write some, a pattern matched no entry, or diff
// found differences; ExitFailure when an input cannot be read or is malformed,
// the command line is bad, or `out` cannot be written. Every failure ends here as
// a message on `err`; nothing is thrown.
int RunInspector(int argc, const char* const* argv, std::ostream& out, std::ostream& err);

}  // namespace zelkor
