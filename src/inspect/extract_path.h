#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/file_system.h"

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
//
// With Windows' rules (on Windows), a name is also refused when a component
// is one that Windows would misread (see WindowsRefusal).
class ExtractPath {
public:
    static ExtractPath Parse(std::string_view name, bool windowsNames = WindowsFileNames);

    // Why Windows would misread the file name `component`, or empty: a device
    // name (CON, PRN, AUX, NUL, COM1 to COM9, LPT1 to LPT9, in any case and with
    // any extension, "nul.txt" as much as "NUL"), a colon (a drive-relative
    // name or an alternate data stream), a dot or a space at its end (dropped
    // by Windows, so that "a." would be written as "a"), or a character
    // Windows does not allow in names (a control character, < > " | ? *).
    static std::string_view WindowsRefusal(std::string_view component);

    // `relative` in one case as Windows compares names (FileNameInOneCase: the
    // system's own table there, every letter, not ASCII alone): two names with
    // the same result name one file there.
    static std::string FoldedCase(std::string_view relative);

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
