#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/directory_listing.h"

namespace zelkor {

// Lists every file below one directory, at any depth, as paths relative to it
// with "/" as the only separator, in an order that is the same on every machine
// (docs/scripts.md, "Generating scripts": each directory sorted by name with letters
// compared as upper case, its files before its subdirectories, subdirectories
// last-found first). Links to directories are followed, except one back to a
// directory on its own way from the root, so cycles end. A directory that cannot
// be listed is skipped and named in the result.
//
// Stateless and thread-safe; several scans may run at once.
class DirectoryScanner {
public:
    struct Result {
        // The relative paths of the files found, in scan order.
        std::vector<std::string> paths;
        // The directories that could not be listed, in scan order, each as the
        // root followed by the directory's relative path (after a "/" when the
        // root does not end in one); the root itself as given, "." when empty.
        std::vector<std::string> unreadable;
    };

    // Reads one directory; the scan's only contact with the file system.
    using Lister = std::function<std::optional<DirectoryListing>(const std::string& path)>;

    // Scans `root`; an empty root is the working directory. Relative roots resolve
    // against the working directory.
    static Result Scan(const std::string& root);

    // The same, with the directories read by `list`.
    static Result Scan(const std::string& root, const Lister& list);
};

}  // namespace zelkor
