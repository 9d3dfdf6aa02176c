#pragma once

#include <stdexcept>
#include <string>

namespace zelkor {

// Writing an archive or key file failed: a full disk, a failed position query, a
// failed flush, close or rename. It carries the fact, the path as its user
// wrote it; the commands word it for the user ("Cannot write PATH!").
class ArchiveWriteError : public std::runtime_error {
public:
    explicit ArchiveWriteError(const std::string& shownPath) : std::runtime_error(shownPath), shownPath_(shownPath) {}

    const std::string& ShownPath() const { return shownPath_; }

private:
    std::string shownPath_;
};

}  // namespace zelkor
