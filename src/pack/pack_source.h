#pragma once

#include <optional>
#include <string>

namespace zelkor {

// One File of a pack command, as the script gives it: the path to read, and the
// path to record it under, which is looked up only once the source has loaded
// (so its absence matters only then).
struct PackSource {
    std::string path;  // as handed to the file system
    std::optional<std::string> archivedPath;
    std::string written;  // the path as the script wrote it, for messages
    unsigned long line = 0;  // of the File element in its script; 0 when unknown
    bool storeRaw = false;   // stored as it is, without trying to compress it
};

}  // namespace zelkor
