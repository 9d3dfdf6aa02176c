#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/file.h"

namespace zelkor {

// An open directory, worked in by names relative to it: nothing below it is
// looked up again through its path, and no name within it that is a symbolic
// link is ever followed (a link where a directory or file is asked for is
// refused), so that work inside the directory stays inside it whatever someone
// else puts there. Names are single components, without slashes.
//
// Nothing here waits on what it finds: a FIFO or device is refused at once.
// Move-only; the directory is closed on destruction. After a failed call, errno
// tells why.
class Directory {
public:
    // Opens the directory at `path` (links on the way to it are followed: the
    // path is the caller's choice). Nothing when it is not a directory that can
    // be opened.
    static std::optional<Directory> Open(const std::string& path);
    // Makes the directory at `path` and whichever of its parents are missing,
    // each with `permissions` (less the process's mask); false when it is no
    // directory afterwards.
    static bool Create(const std::string& path, unsigned permissions = 0777);

    // The directory `name` within this one.
    std::optional<Directory> Enter(const std::string& name) const;
    // Makes the directory `name` within this one, with `permissions` (less the
    // process's mask); true when one is there now, made or found (Enter then
    // tells whether it is a directory or a link).
    bool MakeDirectory(const std::string& name, unsigned permissions = 0777) const;

    // The regular file `name`, for reading; with `status`, its status.
    File OpenForReading(const std::string& name, FileStatus* status = nullptr) const;
    // The regular file `name`, for reading and writing, created when missing
    // (with `permissions`, less the process's mask).
    File OpenForUpdate(const std::string& name, unsigned permissions = 0666) const;
    // A new file for writing, named `prefix` and random characters that nobody
    // can guess, created only where no file of any kind has that name (another
    // name is tried then), with `permissions` less the process's mask. `name`
    // gets its name. `cover` is called with each name's path (PathOf) before
    // the file is tried, and with an empty path after a try that failed, so
    // that the caller can have the file removed by a signal that ends the
    // process from before it exists, and nobody else's file at the name.
    File CreateUnique(std::string_view prefix, std::string& name,
                      const std::function<void(const std::string& path)>& cover, unsigned permissions = 0666) const;

    // The directory's own status.
    std::optional<FileStatus> Status() const { return handle_.Status(); }
    // Gives the directory the permission bits `permissions` as far as the
    // process may, whatever its mask (best effort, as File::TakeAttributesOf).
    void SetPermissions(unsigned permissions) const
    {
        if (std::optional<FileStatus> status = handle_.Status()) {
            status->permissions = permissions;
            handle_.TakeAttributesOf(*status);
        }
    }

    // Renames `from` to `to`, both in this directory, replacing a file at `to`.
    bool Rename(const std::string& from, const std::string& to) const;
    // Removes the file (or the link itself) `name`; never a directory.
    bool Remove(const std::string& name) const;

    struct Entry {
        std::string name;
        FileStatus status;  // of the entry itself: a link is a link
    };
    // Every entry but "." and "..", in the order the file system gives them;
    // nothing when the directory cannot be read to its end.
    std::optional<std::vector<Entry>> List() const;

    // The path it was opened by, and names below it, for messages and for the
    // signal clean-up.
    const std::string& Path() const { return handle_.Path(); }
    std::string PathOf(std::string_view name) const;

private:
    explicit Directory(File handle) : handle_(std::move(handle)) {}

    File handle_;
};

}  // namespace zelkor
