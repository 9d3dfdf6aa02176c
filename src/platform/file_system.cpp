#include "platform/file_system.h"

#include <cerrno>

#include "platform/system.h"

namespace zelkor {

// What is the same on every system; each system's calls are in
// <system>/file_system.cpp.

std::optional<std::string> AbsolutePath(const std::string& path)
{
    if (IsAbsolutePath(path))
        return path;
    std::optional<std::string> absolute = system::WorkingDirectory();
    if (!absolute)
        return std::nullopt;
    if (absolute->empty() || absolute->back() != '/')
        *absolute += '/';
    return *absolute + path;
}

bool MakeDirectories(const std::string& path, unsigned permissions)
{
    if (!system::Passable(path))
        return false;
    std::string directory = path;
    // Without the separators at its end (Windows separates with either slash).
    while (directory.size() > 1 && (directory.back() == '/' || (WindowsFileNames && directory.back() == '\\')))
        directory.pop_back();
    if (directory.empty()) {
        errno = ENOENT;
        return false;
    }
    if (system::MakeOrFindDirectory(directory, permissions))
        return true;
    if (errno != ENOENT)
        return false;
    const std::optional<std::string> parent = system::ParentDirectory(directory);
    return parent && MakeDirectories(*parent, permissions) && system::MakeOrFindDirectory(directory, permissions);
}

}  // namespace zelkor
