#pragma once

#include <stdexcept>
#include <string>

namespace zelkor {

// Writing an archive or key file failed: a full disk, a failed position query, a
// failed close. The text is "Cannot write " + path + "!"; Path() is the path as
// the writer was given it, so that a caller can name the file as its user wrote
// it instead.
class ArchiveWriteError : public std::runtime_error {
public:
    explicit ArchiveWriteError(const std::string& path)
        : std::runtime_error("Cannot write " + path + "!"), path_(path)
    {
    }

    const std::string& Path() const { return path_; }

private:
    std::string path_;
};

}  // namespace zelkor
