#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace zelkor {

// One name found in a directory.
struct DirectoryEntry {
    std::string name;
    bool isDirectory = false;  // a directory, or a link that leads to one
};

// The entries of one directory, read in one go, and the identity of the directory
// itself, which tells when a link leads back into a directory already seen.
class DirectoryListing {
public:
    // Reads the directory at `path` (use "." for the working directory). Nothing
    // when it cannot be opened or read to its end. Entries come in the order the
    // file system returns them, "." and ".." included. A link counts as a
    // directory when it leads to one; a dangling link and every other kind of
    // entry count as files.
    static std::optional<DirectoryListing> Read(const std::string& path);

    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    std::vector<DirectoryEntry> entries;
};

}  // namespace zelkor
