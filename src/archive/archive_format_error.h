#pragma once

#include <stdexcept>

namespace zelkor {

// An archive or key file whose structure breaks the format: a bad magic number, a
// truncated or inconsistent record, a key file that does not match its archive.
// Such files cannot be walked, so none of their entries can be trusted. The text
// names the file and the fault.
class ArchiveFormatError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

}  // namespace zelkor
