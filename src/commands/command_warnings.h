#pragma once

// The warnings that the run of a command and its dry run both give, formed in
// one place so that the two say the same words.

#include <cstddef>
#include <string>
#include <vector>

#include "archive/name_clashes.h"
#include "commands/command_reader.h"
#include "generate/directory_scanner.h"

namespace zelkor {

// The archived names of a pack command's sources, for NameClashes (null where a
// File has none).
std::vector<const std::string*> ArchivedNames(const PackCommand& pack);

// "SCRIPT(LINE): ArchivedPath ..." for source `i` of `pack`, which `clash` found.
std::string ClashWarning(const std::string& script, const PackCommand& pack, std::size_t i,
                         const NameClashes::Clash& clash);

// What a generate command's scan met, in order: the directories it could not
// list, then each Ignore pattern that matched nothing (`used` as
// ApplyIgnorePatterns gives it), most likely a misspelt one.
std::vector<std::string> ScanWarnings(const std::string& script, const GenerateCommand& generate,
                                      const DirectoryScanner::Result& scan, const std::vector<bool>& used);

}  // namespace zelkor
