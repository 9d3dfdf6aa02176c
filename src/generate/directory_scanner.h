#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/directory_listing.h"

namespace zelkor {

// Lists every file below one directory, at any depth, as paths relative to it.
//
// Order: the entries of each directory are taken sorted by name, ASCII letters
// compared as upper case and ties broken byte by byte, so a scan gives the same
// order on every machine. All files of a directory come before the files of its
// subdirectories, and subdirectories are entered last-found first, depth first:
// a root holding button.png, font.ttf, icons/a.png, skins/c.png and
// skins/dark/b.png yields button.png, font.ttf, skins/c.png, skins/dark/b.png,
// icons/a.png.
//
// Relative paths use "/" as their only separator, have no leading or trailing
// separator, and keep the bytes of every name. Directories are never results.
// Links to directories are followed, except a link back to a directory on its
// own way from the root, so link cycles end; a directory reached by two ways
// (a link to a sibling, say) is listed under both. Every entry that is not a
// directory (links that lead nowhere included) is a file.
//
// A directory that cannot be listed is skipped, and the scan goes on with the
// others; it is named in the result so that the caller can report it.
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
