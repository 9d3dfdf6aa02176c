#pragma once

#include <string>
#include <vector>

#include "inspect/inspected_archive.h"
#include "platform/exit_status.h"

namespace zelkor {

// Exit statuses (platform/exit_status.h): ExitSuccess all good; ExitWarnings
// when verify found bad entries, extract did not write some, or a pattern
// matched no entry; ExitFailure when the archive or key file cannot be read or
// is malformed, patterns are given without names to match, or the output cannot
// be written. Bad command lines exit with CLI11's own codes (100 and up).

// What one run of zelkor-inspect was asked to do.
struct InspectOptions {
    enum class Command { List, Verify, Extract, Diff, Cache, Report };

    Command command = Command::List;
    std::string archive;
    InspectedArchive::KeyChoice keyChoice = InspectedArchive::KeyChoice::Default;
    std::string keyPath;          // with KeyChoice::Given
    std::vector<std::string> patterns;  // select entries by name; none: all
    bool json = false;            // list, verify, diff
    // diff: `archive` is the old build, this the new one, with its own key file choice.
    std::string newArchive;
    InspectedArchive::KeyChoice newKeyChoice = InspectedArchive::KeyChoice::Default;
    std::string newKeyPath;
    std::string directory = ".";  // extract
    bool force = false;           // extract
    std::string output;           // report: the page (empty: ARCHIVE.html)
    // cache: its directory (empty: $ZELKOR_CACHE_DIR), and what to do first.
    std::string cacheDirectory;
    bool resetCounters = false;
    bool clearCache = false;
};

}  // namespace zelkor
