#pragma once

#include <ostream>

namespace zelkor {

// Runs zelkor-inspect with its command line and returns the exit status (see
// inspect_options.h). Every failure ends here as a message on `err`; nothing is
// thrown.
int RunInspector(int argc, const char* const* argv, std::ostream& out, std::ostream& err);

}  // namespace zelkor
