#pragma once

#include <stdexcept>
#include <string>

namespace zelkor {

// A source that could not be opened or read: "Cannot open NAME!" or "Cannot
// read NAME!". Unlike ArchiveFormatError it says nothing of the bytes, only
// that they could not be had.
class SourceError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;

    static SourceError CannotOpen(const std::string& name) { return SourceError("Cannot open " + name + "!"); }
    static SourceError CannotRead(const std::string& name) { return SourceError("Cannot read " + name + "!"); }
};

}  // namespace zelkor
