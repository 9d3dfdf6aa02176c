#pragma once

namespace zelkor {

// Exit statuses of a run.
enum ExitStatus : int {
    ExitSuccess = 0,     // finished, and no warning was printed
    ExitWarnings = 1,    // finished, but at least one warning line was printed
    ExitFailure = 2,     // a failure message ended the run
};

// The whole run of the archiver: prints the banner, loads every script named on
// the command line (all at once), then executes every loaded script (all at
// once), and reports the failure that ended the run, if any. Returns the exit
// status.
int RunArchiver(int argc, char** argv);

}  // namespace zelkor
