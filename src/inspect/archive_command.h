#pragma once

#include <string>
#include <vector>

#include "inspect/entry_selector.h"
#include "inspect/inspect_command.h"
#include "inspect/inspected_archive.h"
#include "inspect/key_file_options.h"
#include "inspect/merged_view.h"

namespace zelkor {

// The base of the commands that read one archive and select its entries by name
// (list, verify, extract, report): ARCHIVE, PATTERN..., the key file choice, and
// --json for those that write JSON. Run opens the archive, refuses patterns when
// it has no names to match, runs the command on it, and names each pattern that
// matched nothing (exit status 1 at least). Those that take --mount ARCHIVE
// (repeated: each above the ones before) run on the merged view of ARCHIVE and
// the mounted archives instead (MergedView).
class ArchiveCommand : public InspectCommand {
public:
    void AddOptions(CommandOptions::Verb& command) override;
    int Run(std::ostream& out, std::ostream& err) final;
    std::optional<JsonDocument::Value> FailureMembers() const final;

protected:
    ArchiveCommand(bool hasJson, bool hasMounts = false) : hasJson_(hasJson), hasMounts_(hasMounts) {}

    virtual int RunOn(const InspectedArchive& archive, EntrySelector& selector, std::ostream& out,
                      std::ostream& err) = 0;
    // For the commands with --mount.
    virtual int RunOnMerged(const MergedView&, EntrySelector&, std::ostream&, std::ostream&) { return 0; }

    bool Json() const { return json_; }

private:
    const bool hasJson_;
    const bool hasMounts_;
    std::string archive_;
    std::vector<std::string> mounts_;
    std::vector<std::string> patterns_;
    KeyFileOptions key_;
    bool json_ = false;
};

}  // namespace zelkor
