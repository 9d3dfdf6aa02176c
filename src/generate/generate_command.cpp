#include "generate/generate_command.h"

#include <algorithm>

namespace zelkor {

namespace {

bool IsSeparator(char c)
{
    return c == '/' || c == '\\';
}

void UseSlashes(std::string& path)
{
    std::replace(path.begin(), path.end(), '\\', '/');
}

}  // namespace

void GenerateCommand::Normalize()
{
    if (!archivePrefix.empty() && !IsSeparator(archivePrefix.back())) {
        archivePrefix += '/';
        UseSlashes(archivePrefix);
    }
    if (!sourceDirectory.empty() && !IsSeparator(sourceDirectory.back()))
        sourceDirectory += '/';
    UseSlashes(sourceDirectory);
    for (std::string& added : addedPaths)
        UseSlashes(added);
}

}  // namespace zelkor
