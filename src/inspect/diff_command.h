#pragma once

#include <string>

#include "inspect/inspect_command.h"
#include "inspect/key_file_options.h"

namespace zelkor {

// `diff OLD NEW [--key FILE | --no-key] [--new-key FILE | --new-no-key] [--json]`:
// the report of ArchiveDiffer; exit status 1 when the archives differ.
class DiffCommand : public InspectCommand {
public:
    void AddOptions(CommandOptions::Verb& command) override;
    int Run(std::ostream& out, std::ostream& err) override;
    std::optional<JsonDocument::Value> FailureMembers() const override;

private:
    std::string older_;
    std::string newer_;
    KeyFileOptions olderKey_;
    KeyFileOptions newerKey_;
    bool json_ = false;
};

}  // namespace zelkor
