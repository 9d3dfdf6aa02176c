#include "inspect/output_tree.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <algorithm>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <system_error>

namespace zelkor {

namespace {

std::string Reason()
{
    return std::strerror(errno);
}

bool IsLinkAt(const File& directory, const std::string& name)
{
    struct stat info;
    return ::fstatat(directory.Descriptor(), name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0 &&
           S_ISLNK(info.st_mode);
}

// Removes a file this tree created, when writing it failed.
void RemoveAt(const File& directory, const std::string& name)
{
    const int saved = errno;
    ::unlinkat(directory.Descriptor(), name.c_str(), 0);
    errno = saved;
}

}  // namespace

OutputTree::OutputTree(const std::string& root) : rootPath_(root)
{
    std::error_code ignored;  // opening below reports the failure
    std::filesystem::create_directories(root, ignored);
    root_ = File::Open(root, O_RDONLY | O_DIRECTORY);
    if (!root_.IsOpen())
        throw std::runtime_error("Cannot open the output directory " + root + ": " + Reason());
}

OutputTree::Result OutputTree::Write(const std::vector<std::string>& components,
                                     std::span<const std::uint8_t> content, bool replace)
{
    Result result;
    const File parent = OpenParent(components, true, result);
    if (!parent.IsOpen())
        return result;
    const std::string& name = components.back();
    const std::string target = Display(components, components.size());

    // Without replace the file is created in place: O_EXCL never opens what is
    // there already, a dangling link included.
    std::string written = name;
    if (replace) {
        // A short name of its own, since `name` may already be as long as a
        // directory entry may be.
        written = ".zelkor-inspect." + std::to_string(::getpid()) + "." + std::to_string(temporaries_++);
    }
    File out = File::OpenAt(parent, written, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW);
    if (!out.IsOpen()) {
        if (!replace && errno == EEXIST)
            return {Outcome::Exists, target + " exists"};
        return {Outcome::Failed, "cannot create " + target + ": " + Reason()};
    }
    if (!out.WriteAll(content.data(), content.size()) || !out.Close()) {
        const std::string reason = Reason();
        RemoveAt(parent, written);
        return {Outcome::Failed, "cannot write " + target + ": " + reason};
    }
    if (replace && ::renameat(parent.Descriptor(), written.c_str(), parent.Descriptor(), name.c_str()) != 0) {
        const int error = errno;
        RemoveAt(parent, written);
        if (error == EISDIR || error == ENOTEMPTY || error == EEXIST)
            return {Outcome::Blocked, target + " is a directory"};
        return {Outcome::Failed, "cannot replace " + target + ": " + std::strerror(error)};
    }
    return {Outcome::Written, {}};
}

bool OutputTree::Holds(const std::vector<std::string>& components,
                       std::span<const std::uint8_t> content) const
{
    Result ignored;
    const File parent = OpenParent(components, false, ignored);
    if (!parent.IsOpen())
        return false;
    File file = File::OpenRegularAt(parent, components.back(), O_RDONLY | O_NOFOLLOW);
    const std::optional<FileStatus> status = file.IsOpen() ? file.Status() : std::nullopt;
    if (!status || status->size != content.size())
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

std::string OutputTree::Display(const std::vector<std::string>& components, std::size_t count) const
{
    std::string path = rootPath_;
    for (std::size_t i = 0; i < count && i < components.size(); ++i) {
        if (!path.empty() && path.back() != '/')
            path += '/';
        path += components[i];
    }
    return path;
}

File OutputTree::OpenParent(const std::vector<std::string>& components, bool create,
                            Result& failure) const
{
    File directory = File::OpenAt(root_, ".", O_RDONLY | O_DIRECTORY);
    if (!directory.IsOpen()) {
        failure = {Outcome::Failed, "cannot open " + rootPath_ + ": " + Reason()};
        return directory;
    }
    for (std::size_t i = 0; i + 1 < components.size(); ++i) {
        const std::string& name = components[i];
        const std::string shown = Display(components, i + 1);
        if (create && ::mkdirat(directory.Descriptor(), name.c_str(), 0777) != 0 && errno != EEXIST) {
            failure = {Outcome::Failed, "cannot create " + shown + ": " + Reason()};
            return File();
        }
        File next = File::OpenAt(directory, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW);
        if (!next.IsOpen()) {
            const int error = errno;
            if (IsLinkAt(directory, name))
                failure = {Outcome::Blocked, shown + " is a link, which is never followed"};
            else if (error == ENOTDIR)
                failure = {Outcome::Blocked, shown + " is not a directory"};
            else
                failure = {Outcome::Failed, "cannot open " + shown + ": " + std::strerror(error)};
            return File();
        }
        directory = std::move(next);
    }
    return directory;
}

}  // namespace zelkor
