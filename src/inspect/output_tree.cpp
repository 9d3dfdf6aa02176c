#include "inspect/output_tree.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "output/output_guard.h"
#include "output/signal_cleanup.h"
#include "platform/file_system.h"

namespace zelkor {

namespace {

std::string Reason(int error = errno)
{
    return std::strerror(error);
}

// Appends `name` to the path `directory`, as paths are shown.
void Append(std::string& directory, const std::string& name)
{
    if (!directory.empty() && directory.back() != '/')
        directory += '/';
    directory += name;
}

std::string Join(std::string directory, const std::string& name)
{
    Append(directory, name);
    return directory;
}

// Removes a file this tree created, when writing it failed.
void RemoveAt(const File& directory, const std::string& name)
{
    const int saved = errno;
    directory.RemoveAt(name);
    errno = saved;
}

// Whether the regular file `name` in `directory`, not a link, holds exactly
// `content`.
bool HoldsAt(const File& directory, const std::string& name, std::span<const std::uint8_t> content)
{
    FileStatus status;
    File file = File::OpenRegularAt(directory, name, OpenFlags::Read | OpenFlags::NoFollow, &status);
    if (!file.IsOpen() || status.size != content.size())
        return false;
    std::vector<std::uint8_t> chunk(64 * 1024);
    std::size_t compared = 0;
    while (compared < content.size()) {
        const auto got = file.ReadUpTo(chunk.data(), std::min(chunk.size(), content.size() - compared));
        if (!got || *got == 0 || std::memcmp(chunk.data(), content.data() + compared, *got) != 0)
            return false;
        compared += *got;
    }
    return true;
}

}  // namespace

OutputTree::OutputTree(const std::string& root) : rootPath_(root)
{
    (void)MakeDirectories(root);  // opening below reports the failure
    root_ = File::Open(root, OpenFlags::Read | OpenFlags::Directory);
    if (!root_.IsOpen())
        throw std::runtime_error("Cannot open the output directory " + root + ": " + Reason());
}

OutputTree::Result OutputTree::Write(const std::vector<std::string>& components,
                                     std::span<const std::uint8_t> content, bool replace, std::uint64_t owner)
{
    Result result;
    std::string shownParent;
    const File parent = OpenParent(components, owner, shownParent, result);
    if (!parent.IsOpen())
        return result;
    const std::string& name = components.back();
    const std::string target = Join(shownParent, name);

    if (const std::optional<FileStatus> existing = parent.StatusAt(name)) {
        if (existing->IsDirectory()) {
            const auto made = madeFor_.find({existing->device, existing->inode});
            return {Outcome::Blocked, target + " is a directory",
                    made == madeFor_.end() ? std::nullopt : std::optional(made->second)};
        }
        const bool regular = existing->IsRegular();
        if (regular && HoldsAt(parent, name, content))
            return {Outcome::Unchanged, {}, {}};
        if (!replace)
            return {Outcome::Exists, target + (regular ? " exists with other content" : " exists"), {}};
    }
    return Place(parent, shownParent, name, target, content, replace);
}

OutputTree::Result OutputTree::Place(const File& parent, const std::string& shownParent, const std::string& name,
                                     const std::string& target, std::span<const std::uint8_t> content,
                                     bool replace)
{
    File out;
    std::string temporary;
    SignalCleanup::Registration cleanup;
    for (int attempt = 0; attempt < 100 && !out.IsOpen(); ++attempt) {
        temporary = OutputGuard::HiddenName(name, OutputGuard::RandomSuffix());
        // Covered before it exists, so that no signal can leave it behind.
        cleanup = SignalCleanup::Registration(Join(shownParent, temporary));
        out = File::OpenAt(parent, temporary,
                           OpenFlags::Write | OpenFlags::Create | OpenFlags::Exclusive | OpenFlags::NoFollow);
        if (!out.IsOpen() && errno != EEXIST)
            break;
    }
    if (!out.IsOpen())
        return {Outcome::Failed, "cannot create a file in " + shownParent + ": " + Reason(), {}};
    if (!out.WriteAll(content.data(), content.size()) || !out.Close()) {
        const std::string reason = Reason();
        RemoveAt(parent, temporary);
        return {Outcome::Failed, "cannot write " + target + ": " + reason, {}};
    }

    if (parent.RenameAt(temporary, name, replace))
        return {Outcome::Written, {}, {}};
    const int error = errno;
    RemoveAt(parent, temporary);
    if (error == EISDIR || error == ENOTEMPTY || (replace && error == EEXIST))
        return {Outcome::Blocked, target + " is a directory", {}};
    if (error == EEXIST) {
        // Something appeared at the place while the content was written.
        if (HoldsAt(parent, name, content))
            return {Outcome::Unchanged, {}, {}};
        return {Outcome::Exists, target + " exists with other content", {}};
    }
    return {Outcome::Failed, "cannot create " + target + ": " + Reason(error), {}};
}

bool OutputTree::Holds(const std::vector<std::string>& components, std::span<const std::uint8_t> content)
{
    Result ignored;
    std::string shown;
    const File parent = OpenParent(components, std::nullopt, shown, ignored);
    return parent.IsOpen() && HoldsAt(parent, components.back(), content);
}

std::string OutputTree::Display(const std::vector<std::string>& components, std::size_t count) const
{
    std::string path = rootPath_;
    for (std::size_t i = 0; i < count && i < components.size(); ++i)
        Append(path, components[i]);
    return path;
}

File OutputTree::OpenParent(const std::vector<std::string>& components, std::optional<std::uint64_t> createFor,
                            std::string& shown, Result& failure)
{
    shown = rootPath_;
    File directory = File::OpenAt(root_, ".", OpenFlags::Read | OpenFlags::Directory);
    if (!directory.IsOpen()) {
        failure = {Outcome::Failed, "cannot open " + rootPath_ + ": " + Reason(), {}};
        return directory;
    }
    // The path shown grows in place by one component a step, so a name of many
    // components costs time in proportion to its length.
    for (std::size_t i = 0; i + 1 < components.size(); ++i) {
        const std::string& name = components[i];
        Append(shown, name);
        const bool made = createFor && directory.MakeDirectoryAt(name);
        if (createFor && !made && errno != EEXIST) {
            failure = {Outcome::Failed, "cannot create " + shown + ": " + Reason(), {}};
            return File();
        }
        File next = File::OpenAt(directory, name, OpenFlags::Read | OpenFlags::Directory | OpenFlags::NoFollow, 0, {});
        if (!next.IsOpen()) {
            const int error = errno;
            const std::optional<FileStatus> status = directory.StatusAt(name);
            if (status && status->IsLink())
                failure = {Outcome::Blocked, shown + " is a link, which is never followed", {}};
            else if (error == ENOTDIR)
                failure = {Outcome::Blocked, shown + " is not a directory", {}};
            else
                failure = {Outcome::Failed, "cannot open " + shown + ": " + Reason(error), {}};
            return File();
        }
        if (made) {
            if (const std::optional<FileStatus> status = next.Status())
                madeFor_.emplace(std::pair(status->device, status->inode), *createFor);
        }
        directory = std::move(next);
    }
    return directory;
}

}  // namespace zelkor
