#pragma once

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace zelkor::system {

// The few calls that each system gives the platform layer's portable code:
// posix/ and win32/ each implement every one of them, and what is the same on
// both (File's moves and checks, Directory, MappedFile's guard, the path
// calls built on these) is written once above them. Nothing outside
// src/platform includes this header. Each call leaves errno telling why it
// failed.

// Closes the handle of a File (a descriptor, a HANDLE), which is released
// whether or not the system reports an error; false when it does.
bool CloseFile(std::intptr_t handle);

// Fills `data` from the system's random source (getrandom, BCryptGenRandom);
// throws std::runtime_error when it has none.
void RandomBytes(void* data, std::size_t size);

// The working directory, as the tools write paths.
std::optional<std::string> WorkingDirectory();

// Makes the directory `path` (with `permissions`, less the process's mask,
// where the system has them), or finds one there: true when `path` is a
// directory afterwards; ENOTDIR when something else stands there.
bool MakeOrFindDirectory(const std::string& path, unsigned permissions);

// The directory above `directory` (a path without a separator at its end),
// with its separator only when it is a root ("/", "C:/"); nothing for a bare
// name or a root, which have none.
std::optional<std::string> ParentDirectory(const std::string& directory);

// Unmaps the view of a file at [data, data + size).
void Unmap(void* data, std::size_t size);

// Puts a page of zeros in place of the mapped page at `page` of `size` bytes,
// which the file under it no longer has; false when the system cannot.
bool ReplaceWithZeros(void* page, std::size_t size);

// Whether `text`, a path or a name, can be handed to the system whole: the
// system would take it only up to its first NUL, which names another file.
// EINVAL when it cannot.
inline bool Passable(std::string_view text)
{
    if (text.find('\0') == std::string_view::npos)
        return true;
    errno = EINVAL;
    return false;
}

}  // namespace zelkor::system
