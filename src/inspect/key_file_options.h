#pragma once

#include <string>

#include "inspect/command_options.h"
#include "inspect/inspected_archive.h"

namespace zelkor {

// The key file choice for one archive on the command line: `--key FILE` or
// `--no-key`, which exclude each other, or neither (the default key file). The
// second archive of diff takes them with a prefix (`--new-key`, `--new-no-key`).
class KeyFileOptions {
public:
    // Adds both options to `command`; `archive` names the archive in their help.
    void AddTo(CommandOptions::Verb& command, const std::string& prefix, const std::string& archive);

    // The archive at `path`, read with the choice made. Throws as InspectedArchive.
    InspectedArchive Open(const std::string& path) const;

    // The key file the choice made reads for the archive at `path`, if any.
    std::optional<std::string> KeyFileFor(const std::string& path) const;

private:
    bool given_ = false;
    bool none_ = false;
    std::string keyPath_;
};

}  // namespace zelkor
