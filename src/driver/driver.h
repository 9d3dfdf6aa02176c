#pragma once

#include "runtime/exit_status.h"

namespace zelkor {

// The whole run of the archiver: prints the banner, loads every script named on
// the command line (all at once), then executes every loaded script (all at
// once), and reports the failure that ended the run, if any. Returns the exit
// status. "--help", "-h" or "--version" as the only argument prints the usage or
// the version instead, without the banner.
int RunArchiver(int argc, char** argv);

// RunArchiver as a program's main runs it: with the signal clean-up installed,
// standard output and error passing bytes through unchanged, and the arguments
// read as UTF-8 on every system.
int RunArchiverAsMain(int argc, char** argv);

}  // namespace zelkor
