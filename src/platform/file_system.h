#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/file.h"

namespace zelkor {

// Calls on paths, for what is not done through an open File. Each returns false
// or nothing on failure, with errno telling why; a path holding a NUL byte names
// no file (EINVAL). Safe on any thread.

// Whether the system's file names follow Windows' rules: no device names
// (CON, NUL, COM1, ...), no colons, no dot or space at a name's end, and names
// that differ only in case naming one file.
#ifdef _WIN32
constexpr bool WindowsFileNames = true;
#else
constexpr bool WindowsFileNames = false;
#endif

// `name` (UTF-8) in one case, as the system compares file names that differ
// only in case: two names with the same result are one file where
// WindowsFileNames holds. On Windows every letter is upper-cased by the
// system's own table, the one NTFS and CompareStringOrdinal compare names with
// ("é" and "É" are one name, "ß" and "SS" are two); elsewhere, where names are
// case-sensitive and only Windows' rule is ever asked for, ASCII letters alone.
std::string FileNameInOneCase(std::string_view name);

// The longest name of one directory entry (not a path) that file systems take.
constexpr std::size_t MaxEntryNameLength = 255;

enum class FollowLinks { Yes, No };

// The directory part of `path` with its separator ("" for a bare name), and
// the name after it. Windows also separates with "\\", and a drive's colon ends
// a directory part ("C:name").
std::string DirectoryPart(const std::string& path);
std::string NamePart(const std::string& path);

// Whether `path` starts from a root, not from the working directory: "/" on
// POSIX systems; on Windows also "\\", a drive letter with a separator
// ("C:/", "C:\\"), and a UNC path ("//server/share", "\\\\server\\share").
bool IsAbsolutePath(const std::string& path);

// `path` as an absolute path: the working directory is put before a relative one.
std::optional<std::string> AbsolutePath(const std::string& path);

// The status of the file at `path`; with FollowLinks::No, a link's own.
std::optional<FileStatus> StatusOf(const std::string& path, FollowLinks follow = FollowLinks::Yes);

// Where the symbolic link at `path` points, as written in it.
std::optional<std::string> ReadLink(const std::string& path);

// Whether the system's rule for links in shared directories lets this process
// follow the link at `path` (whose own status is `link`): in a directory that
// everybody may write to and that only lets a name's owner remove it (the
// sticky bit, as on /tmp), only a link owned by the directory's owner or by the
// process's user is followed. True for a link anywhere else; false when the
// directory's status cannot be had.
bool MayFollowLink(const std::string& path, const FileStatus& link);

// Removes the file (not a directory) at `path`.
bool RemoveFile(const std::string& path);

// Renames `from` to `to`, replacing a file at `to`.
bool RenameFile(const std::string& from, const std::string& to);

// Makes the directory `path`; fails with EEXIST when anything is there.
bool MakeDirectory(const std::string& path, unsigned permissions = 0777);

// Makes `path` and every missing directory above it, each with `permissions`
// (less the process's mask); true when `path` is a directory at the end (also
// when it was one before).
bool MakeDirectories(const std::string& path, unsigned permissions = 0777);

// Whether this process may write the file at `path`, or create names in the
// directory at `path`, links followed; nothing is opened or changed.
bool MayWrite(const std::string& path);

// This process's identifier, as the system shows it.
std::uint64_t ProcessId();

// The user the process acts as, in the terms of FileStatus::owner.
unsigned EffectiveUser();

// What tells this machine from others that may share a directory with it: the
// system's machine identifier where it has one (/etc/machine-id), else the
// host's name; empty when neither can be had.
std::string MachineIdentity();

}  // namespace zelkor
