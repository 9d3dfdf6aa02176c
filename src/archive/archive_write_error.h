#pragma once

#include <stdexcept>
#include <string>

#include "platform/messages.h"

namespace zelkor {

// Writing an archive or key file failed: a full disk, a failed position query, a
// failed flush, close or rename. The text is "Cannot write PATH!", the path as
// its user wrote it.
class ArchiveWriteError : public std::runtime_error {
public:
    explicit ArchiveWriteError(const std::string& shownPath) : std::runtime_error(message::CannotWrite(shownPath)) {}
};

}  // namespace zelkor
