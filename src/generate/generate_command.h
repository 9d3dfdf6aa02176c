#pragma once

#include <optional>
#include <string>
#include <vector>

namespace zelkor {

// What a generate command asks for: a script, written to `outputPath`, that
// packs every file below `sourceDirectory` (less those an ignore pattern
// matches, plus the added paths) into the archive `archivePath`.
//
// Generating runs in three steps, which the caller takes in turn: scan the
// source directory (DirectoryScanner), drop what the ignore patterns match
// (ApplyIgnorePatterns), write the script (ScriptWriter).
struct GenerateCommand {
    std::string outputPath;
    std::string sourceDirectory;  // the directory to scan; the start of every source path
    std::string archivePrefix;    // the start of every archived path
    std::string archivePath;
    std::vector<std::string> ignorePatterns;
    std::vector<std::string> addedPaths;  // relative to the source directory
    bool buildKeyfile = false;
    std::string keyPath;  // written only when buildKeyfile is true
    std::optional<std::string> keySeedPath;  // written when given
    std::string outputShown;  // the output path as the script wrote it, for messages
    std::vector<unsigned long> ignoreLines;  // of each Ignore element in its script; 0 when unknown
    std::optional<std::string> store;  // the Store patterns, written when given
    std::optional<std::string> level;  // the Level, written as given when given
    std::optional<std::string> patchOf;     // the PatchOf, written as given when given
    std::optional<std::string> volumeSize;  // the VolumeSize, written as given when given

    // Puts the values in the form the generated paths take, as given by a script:
    // - the source directory gets its backslashes turned into slashes and a
    //   trailing slash when it has none; empty stays empty (the working
    //   directory, whose entries are then the source paths);
    // - a prefix that does not end in a slash or backslash gets a slash and its
    //   backslashes turned into slashes; one that does is used as it stands;
    // - added paths get their backslashes turned into slashes.
    void Normalize();
};

}  // namespace zelkor
