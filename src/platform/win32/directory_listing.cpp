#include "platform/directory_listing.h"

#include <cerrno>

#include "platform/file.h"
#include "platform/win32/find_handle.h"
#include "platform/win32/wide_path.h"
#include "platform/win32/win32_status.h"

namespace zelkor {

std::optional<DirectoryListing> DirectoryListing::Read(const std::string& path)
{
    if (path.find('\0') != std::string::npos)
        return std::nullopt;
    // The directory's identity, links on the way followed, tells a link that
    // leads back to a directory on the current path.
    const std::optional<FileStatus> self = win32::StatusOfPath(win32::WidePath(path.empty() ? "." : path), true);
    if (!self || !self->IsDirectory())
        return std::nullopt;
    DirectoryListing listing;
    listing.device = self->device;
    listing.inode = self->inode;
    const std::string prefix = path.empty() ? std::string() : path + "/";
    const bool listed = win32::ForEachEntry(path, [&](const WIN32_FIND_DATAW& entry) {
        std::string name = win32::Narrow(entry.cFileName);
        bool isDirectory = (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        if (win32::IsLinkEntry(entry)) {
            // A link or junction: where it leads decides; a dangling one is a file.
            const std::optional<FileStatus> target = win32::StatusOfPath(win32::WidePath(prefix + name), true);
            isDirectory = target && target->IsDirectory();
        }
        listing.entries.push_back({std::move(name), isDirectory});
    });
    if (!listed)
        return std::nullopt;
    return listing;
}

}  // namespace zelkor
