#pragma once

#include <string>
#include <vector>

#include "generate/generate_command.h"

namespace zelkor {

// Writes the script of a generate command: a ScriptFile holding one
// CreateOrvanPack with a File element for each scanned entry, then each added
// path (docs/scripts.md, "Generating scripts", gives the exact text). The command is
// expected normalised (GenerateCommand::Normalize). Values go through
// ScriptText, so that each reads back exactly as it was given.
//
// Stateless and thread-safe; several calls may run at once.
class ScriptWriter {
public:
    // The whole text of the script.
    static std::string Text(const GenerateCommand& command, const std::vector<std::string>& scanned);

    // Writes the text to the command's output path, beside it first and renamed
    // over it when complete, so a failed write leaves an old script as it was and
    // two writers of one path never leave a torn file. False when it cannot be
    // written, or the output path is empty.
    static bool Write(const GenerateCommand& command, const std::vector<std::string>& scanned);
};

}  // namespace zelkor
