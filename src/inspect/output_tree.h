#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "platform/file.h"

namespace zelkor {

// The directory that extraction writes below. It is opened once; every path
// below it is then walked one component at a time from that descriptor, each
// directory opened without following a link, so that no link in the tree, also
// not one put there while extraction runs, can lead a write outside it.
//
// Paths are given as components that are neither empty, ".", nor ".." (see
// ExtractPath). Used by one thread at a time.
class OutputTree {
public:
    enum class Outcome {
        Written,
        Exists,   // without `replace`: something is already at that place
        Blocked,  // a link or a non-directory stands where a directory is needed,
                  // or a directory where the file should go
        Failed,   // the system refused; the detail says why
    };

    struct Result {
        Outcome outcome = Outcome::Failed;
        std::string detail;  // names the path; empty when Written
    };

    // Opens `root`, creating it and its parents when missing. Throws
    // std::runtime_error when that fails.
    explicit OutputTree(const std::string& root);

    // Writes `content` as the file at `components`, creating the directories on
    // the way. Without `replace`, the file is created new and whatever is at that
    // place already (a file, a link, anything) stays untouched. With `replace`,
    // the content is written to a temporary file beside it and renamed over it,
    // so an existing link is replaced, never followed. A file that cannot be
    // written completely is removed again.
    Result Write(const std::vector<std::string>& components, std::span<const std::uint8_t> content,
                 bool replace);

    // Whether the place `components` holds a regular file, reached without
    // following any link, whose bytes are exactly `content`.
    bool Holds(const std::vector<std::string>& components, std::span<const std::uint8_t> content) const;

    // The path of `components` below the root, as shown in messages.
    std::string Display(const std::vector<std::string>& components, std::size_t count) const;

private:
    // Opens the directory that holds the last of `components`; with `create`,
    // makes the missing directories on the way. On failure the result is not
    // open and `failure` says why.
    File OpenParent(const std::vector<std::string>& components, bool create, Result& failure) const;

    File root_;
    std::string rootPath_;
    unsigned temporaries_ = 0;  // numbers the temporary files of `replace`
};

}  // namespace zelkor
