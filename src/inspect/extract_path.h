#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace zelkor {

// The relative path below the extraction directory at which an archived name is
// written, or the reason it must not be written at all.
//
// Archived names come from scripts written for either kind of system, so both
// the slash and the backslash separate components. A name is refused when it is
// empty, holds a NUL byte, is absolute (starts with a separator), has a drive
// prefix ("C:" and the like), ends in a separator or a "." component (it names
// a directory, not a file), or holds a ".." component. Empty and "." components ("a//b", "./a") are dropped, so
// "a//./b" is written at "a/b"; a name with nothing else left is refused.
class ExtractPath {
public:
    static ExtractPath Parse(std::string_view name);

    bool IsRefused() const { return !refusal_.empty(); }
    // Why the name is refused; empty when it is not.
    const std::string& Refusal() const { return refusal_; }

    // The components, none empty, ".", or "..". Empty when refused.
    const std::vector<std::string>& Components() const { return components_; }
    // The components joined with slashes.
    std::string Relative() const;

private:
    std::vector<std::string> components_;
    std::string refusal_;
};

}  // namespace zelkor
