#pragma once

#include <string>
#include <vector>

namespace zelkor {

// Writes a script that, run later, packs every file below a source directory
// into one archive: a ScriptFile holding a single CreateOrvanPack command with
// one File element per entry.
//
// The entries are the files the scan of the source directory finds (in
// DirectoryScanner order) less those an ignore pattern matches, then the added
// paths in their order, untested. For each entry the archived path is the
// archive prefix followed by the entry without a leading "/", and the source
// path is the source directory followed by the entry.
//
// The text has no declaration and no byte-order mark; lines are indented with
// TABs and end in CR LF, all but the last. Values holding no "&", "<", '"' (in
// attributes) and no "]]>" (in CDATA) are written byte for byte; those
// characters are escaped so that every value reads back exactly as it was given.
//
// The script is written beside its target and renamed over it when complete, so
// a failed write leaves an old script as it was, and two writers of one path
// never leave a torn file.
//
// Stateless and thread-safe; several calls may run at once.
class ScriptWriter {
public:
    struct Result {
        // Whether the script was written to its path.
        bool written = false;
        // The directories of the scan that could not be listed, in scan order,
        // as DirectoryScanner::Result::unreadable gives them. They are missing
        // from the script, which is written all the same.
        std::vector<std::string> unreadable;
    };

    // `sourceDirectory`: the directory to scan and the start of every source path;
    // backslashes become slashes and a missing trailing slash is added. Empty
    // means the working directory, and the entries are then the source paths.
    //
    // `archivePrefix`: the start of every archived path. When it does not end in
    // a slash or backslash, a slash is added and every backslash becomes a
    // slash; otherwise it is used as it stands.
    //
    // `addedPaths`: paths relative to the source directory; backslashes become
    // slashes.
    //
    // The command gets `archivePath`, `buildKeyfile` ("true" or "false") and,
    // only when `buildKeyfile` is true, `keyPath`.
    static Result Generate(const std::string& outputPath, std::string sourceDirectory,
                           std::string archivePrefix, const std::string& archivePath,
                           const std::vector<std::string>& ignorePatterns,
                           const std::vector<std::string>& addedPaths, bool buildKeyfile,
                           const std::string& keyPath);
};

}  // namespace zelkor
