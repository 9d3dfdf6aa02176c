#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "platform/file.h"

namespace zelkor {

// The directory that extraction writes below. It is opened once; every path
// below it is then walked one component at a time from that descriptor, each
// directory opened without following a link, so that no link in the tree, also
// not one put there while extraction runs, can lead a write outside it.
//
// A file appears only complete: its content is written to a temporary file
// beside it (".NAME.zelkor-XXXXXX"), which SignalCleanup removes when a signal
// ends the process, and renamed into place once written.
//
// Paths are given as components that are neither empty, ".", nor ".." (see
// ExtractPath). Used by one thread at a time; the work per path is linear in
// its length.
class OutputTree {
public:
    enum class Outcome {
        Written,
        Unchanged,  // a regular file with exactly this content is there already
        Exists,     // without `replace`: something else is at that place
        Blocked,    // a link or a non-directory stands where a directory is needed,
                    // or a directory where the file should go
        Failed,     // the system refused; the detail says why
    };

    struct Result {
        Outcome outcome = Outcome::Failed;
        std::string detail;  // names the path; empty when Written or Unchanged
        // With a directory in the way: the owner of the Write that made it, if
        // one of this tree made it.
        std::optional<std::uint64_t> madeFor;
    };

    // Opens `root`, creating it and its parents when missing. Throws
    // std::runtime_error when that fails.
    explicit OutputTree(const std::string& root);

    // Writes `content` as the file at `components`, creating the directories on
    // the way, which are remembered as made for `owner` (an entry's index, say).
    // A regular file that already holds exactly `content` is left alone. Without
    // `replace`, whatever else is at that place (a file, a link, anything) stays
    // untouched, also when it appears while the content is written; with
    // `replace`, it is replaced, a link by a file (never followed). A file that
    // cannot be written completely is removed again.
    Result Write(const std::vector<std::string>& components, std::span<const std::uint8_t> content,
                 bool replace, std::uint64_t owner = 0);

    // Whether the place `components` holds a regular file, reached without
    // following any link, whose bytes are exactly `content`.
    bool Holds(const std::vector<std::string>& components, std::span<const std::uint8_t> content);

    // The path of `components` below the root, as shown in messages.
    std::string Display(const std::vector<std::string>& components, std::size_t count) const;

private:
    // Opens the directory that holds the last of `components`, and gives its
    // path as shown in messages. With `createFor`, makes the missing directories
    // on the way, for that owner. On failure the result is not open and
    // `failure` says why.
    File OpenParent(const std::vector<std::string>& components, std::optional<std::uint64_t> createFor,
                    std::string& shown, Result& failure);
    // Writes `content` to a new temporary file in `parent` and puts it at `name`.
    Result Place(const File& parent, const std::string& shownParent, const std::string& name,
                 const std::string& target, std::span<const std::uint8_t> content, bool replace);

    File root_;
    std::string rootPath_;
    // The directories this tree made, by device and inode, and for whom.
    std::map<std::pair<std::uint64_t, std::uint64_t>, std::uint64_t> madeFor_;
};

}  // namespace zelkor
