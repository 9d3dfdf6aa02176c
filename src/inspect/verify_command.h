#pragma once

#include "inspect/archive_command.h"

namespace zelkor {

// `verify ARCHIVE [PATTERN...] [--json]`: the report of ArchiveVerifier; exit
// status 1 when an entry is bad.
class VerifyCommand : public ArchiveCommand {
public:
    VerifyCommand() : ArchiveCommand(true, true) {}

private:
    int RunOn(const InspectedArchive& archive, EntrySelector& selector, std::ostream& out,
              std::ostream& err) override;
    int RunOnMerged(const MergedView& view, EntrySelector& selector, std::ostream& out, std::ostream& err) override;
};

}  // namespace zelkor
