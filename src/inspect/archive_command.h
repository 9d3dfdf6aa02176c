#pragma once

#include <string>
#include <vector>

#include "inspect/entry_selector.h"
#include "inspect/inspect_command.h"
#include "inspect/inspected_archive.h"
#include "inspect/key_file_options.h"

namespace zelkor {

// The base of the commands that read one archive and select its entries by name
// (list, verify, extract): ARCHIVE, PATTERN..., the key file choice, and --json
// for those that write JSON. Run opens the archive, refuses patterns when it has
// no names to match, runs the command on it, and names each pattern that matched
// nothing (exit status 1 at least).
class ArchiveCommand : public InspectCommand {
public:
    void AddOptions(CLI::App& command) override;
    int Run(std::ostream& out, std::ostream& err) final;
    std::optional<JsonDocument::Value> FailureMembers() const final;

protected:
    explicit ArchiveCommand(bool hasJson) : hasJson_(hasJson) {}

    virtual int RunOn(const InspectedArchive& archive, EntrySelector& selector, std::ostream& out,
                      std::ostream& err) = 0;

    bool Json() const { return json_; }

private:
    const bool hasJson_;
    std::string archive_;
    std::vector<std::string> patterns_;
    KeyFileOptions key_;
    bool json_ = false;
};

}  // namespace zelkor
