#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "platform/file.h"

namespace zelkor::win32 {

// The status of the open file or directory `handle` (a HANDLE), in the platform
// layer's terms: the volume's serial number as the device, the file index as the
// inode, permissions from the read-only attribute as the owner's alone (0644,
// 0444 read-only, 0755 a directory: who else may write is the business of the
// file's access list, which Windows checks itself), the process's user as the
// owner (the tools compare owners only with it). `asLink` reports a symbolic
// link or junction opened itself (not followed) as a link.
std::optional<FileStatus> StatusOfHandle(std::intptr_t handle, bool asLink);

// Only the kind of the open `handle`, as StatusOfHandle(handle, true) tells
// it, without the volume's serial number, which is slow to ask for (under
// Wine a query of the volume on every call).
std::optional<FileKind> KindOfHandle(std::intptr_t handle);

// The status of the file at `path` (as WidePath gives it); with `follow`
// false, a link's own. Nothing, with errno set, when it cannot be had.
std::optional<FileStatus> StatusOfPath(const std::wstring& path, bool follow);

// A FILETIME (100 ns since 1601) in nanoseconds since 1970.
std::int64_t UnixNanoseconds(std::uint32_t low, std::uint32_t high);

}  // namespace zelkor::win32
