#pragma once

#include <string>

#include "platform/file.h"

namespace zelkor {

// Writes a new version of a file beside it and puts it in place only when it is
// complete: Commit renames the temporary file over the target, so whoever opens
// the target sees the old content or the new, never a part of it, and two
// writers of one target never leave a torn file (the last commit wins). Without a
// successful Commit, the temporary file is removed on destruction and the target
// is left as it was.
//
// The temporary file lies in the target's directory (a rename never crosses file
// systems) and gets the permissions of a newly created file.
class OutputGuard {
public:
    explicit OutputGuard(std::string target);
    ~OutputGuard();
    OutputGuard(const OutputGuard&) = delete;
    OutputGuard& operator=(const OutputGuard&) = delete;

    // Creates the temporary file. False when it cannot be created (missing
    // directory, no permission, a name that is too long...).
    bool Open();

    // The temporary file, to write the new content to. Valid after Open.
    File& Output() { return file_; }

    // Closes the temporary file and renames it over the target. False when the
    // close or the rename fails; the temporary file is then removed.
    bool Commit();

    const std::string& Target() const { return target_; }

private:
    void Discard();

    std::string target_;
    std::string temporary_;
    File file_;
};

}  // namespace zelkor
