#pragma once

#include <string>

#include "inspect/archive_command.h"

namespace zelkor {

// `report ARCHIVE [PATTERN...] [-o FILE]`: the page of ArchiveReport, at FILE
// (default: ARCHIVE.html); exit status 0.
class ReportCommand : public ArchiveCommand {
public:
    ReportCommand() : ArchiveCommand(false) {}

    void AddOptions(CommandOptions::Verb& command) override;

private:
    int RunOn(const InspectedArchive& archive, EntrySelector& selector, std::ostream& out,
              std::ostream& err) override;

    std::string page_;
};

}  // namespace zelkor
