#pragma once

#include <stdexcept>
#include <string>

namespace zelkor {

// An archive or key file whose structure breaks the format: a bad magic number, a
// truncated or inconsistent record, a key file that does not match its archive.
// Such files cannot be walked, so none of their entries can be trusted. The text
// names the file and the fault.
class ArchiveFormatError : public std::runtime_error {
public:
    enum class Cause {
        Damage,          // a file is malformed or damaged
        ForeignKeyFile,  // the key file most likely belongs to another archive
    };

    explicit ArchiveFormatError(const std::string& what, Cause cause = Cause::Damage)
        : std::runtime_error(what), cause_(cause)
    {
    }

    Cause WhatCause() const { return cause_; }

private:
    Cause cause_;
};

}  // namespace zelkor
