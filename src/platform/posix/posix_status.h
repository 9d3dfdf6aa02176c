#pragma once

#include <sys/stat.h>

#include <optional>

#include "platform/file.h"

namespace zelkor::posix {

// The status that stat(2) and its kin report, in the platform layer's terms.
FileStatus StatusFrom(const struct stat& info);

// The status of the open descriptor `fd`, or of `path` (links followed or
// not), with where the file lives: its mount's identity and its file system's
// (FileStatus::mount, fileSystem, keepsChangeTime). Nothing, with errno set,
// when the system cannot tell.
std::optional<FileStatus> StatusOfDescriptor(int fd);
std::optional<FileStatus> StatusOfPath(const char* path, bool follow);

}  // namespace zelkor::posix
