#pragma once

#include <string>

namespace zelkor {

// A path to hand to the file system, and the same path as its user wrote it
// (backslashes and all), which is what messages show.
struct NamedPath {
    NamedPath() = default;
    NamedPath(std::string both) : path(both), shown(std::move(both)) {}  // NOLINT: a plain path names itself
    NamedPath(std::string path, std::string shown) : path(std::move(path)), shown(std::move(shown)) {}

    std::string path;
    std::string shown;
};

}  // namespace zelkor
