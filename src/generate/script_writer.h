#pragma once

#include <string>
#include <vector>

#include "generate/generate_command.h"

namespace zelkor {

// Writes the script of a generate command: a ScriptFile holding a single
// CreateOrvanPack command with one File element per entry. The command's
// opening tag carries ArchivePath, BuildKeyfile, KeyPath (only with
// BuildKeyfile true) and KeySeedPath (only when given), in this order.
//
// The entries are the scanned paths, as the caller passes them (scanned and
// filtered), then the command's added paths in their order, untested. For each
// entry the archived path is the archive prefix followed by the entry without a
// leading "/", and the source path is the source directory followed by the
// entry. The command is expected in its normalised form (GenerateCommand::
// Normalize).
//
// The text has no declaration and no byte-order mark; lines are indented with
// TABs and end in CR LF, all but the last. Values are written through
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
