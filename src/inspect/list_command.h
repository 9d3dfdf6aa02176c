#pragma once

#include "inspect/archive_command.h"

namespace zelkor {

// `list ARCHIVE [PATTERN...] [--json]`: the rows of ArchiveLister; exit status 0.
class ListCommand : public ArchiveCommand {
public:
    ListCommand() : ArchiveCommand(true, true) {}

private:
    int RunOn(const InspectedArchive& archive, EntrySelector& selector, std::ostream& out,
              std::ostream& err) override;
    int RunOnMerged(const MergedView& view, EntrySelector& selector, std::ostream& out, std::ostream& err) override;
};

}  // namespace zelkor
