#pragma once

namespace zelkor {

// Exit statuses of both tools. A signal that ends a run gives 128 + its number,
// as the shell reports it.
enum ExitStatus : int {
    ExitSuccess = 0,     // finished, and every item was handled
    ExitWarnings = 1,    // finished, every output asked for written, but some items were not
                         // handled: a warning line each (zelkor), bad or unwritten entries
                         // (zelkor-inspect)
    ExitFailure = 2,     // a failure ended the run, or an input could not be read at all
    ExitNotWritten = 3,  // finished, but at least one output asked for was not written (zelkor,
                         // and zelkor-inspect check for the run it foresees)
};

}  // namespace zelkor
