#pragma once

#include <optional>
#include <string>

namespace zelkor {

// One File of a pack command, as the script gives it: the path to read, and the
// path to record it under, which is looked up only once the source has loaded
// (so its absence matters only then).
struct PackSource {
    std::string path;
    std::optional<std::string> archivedPath;
};

}  // namespace zelkor
