#pragma once

#include <string>

#include "inspect/inspected_archive.h"

namespace zelkor {

// Exit statuses of zelkor-inspect. Bad command lines exit with CLI11's own codes
// (100 and up).
inline constexpr int InspectOk = 0;
inline constexpr int InspectEntriesBad = 1;    // verify found bad entries, extract refused some
inline constexpr int InspectUnreadable = 2;    // the archive or key file cannot be read or is
                                               // malformed, or the output cannot be written

// What one run of zelkor-inspect was asked to do.
struct InspectOptions {
    enum class Command { List, Verify, Extract };

    Command command = Command::List;
    std::string archive;
    InspectedArchive::KeyChoice keyChoice = InspectedArchive::KeyChoice::Default;
    std::string keyPath;          // with KeyChoice::Given
    bool json = false;            // list, verify
    std::string directory = ".";  // extract
    bool force = false;           // extract
};

}  // namespace zelkor
