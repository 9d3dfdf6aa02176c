#pragma once

#include <string>

#include "inspect/archive_command.h"

namespace zelkor {

// `extract ARCHIVE [PATTERN...] [-o DIR] [--force]`: ArchiveExtractor below DIR
// (default: the working directory); exit status 1 when an entry was not written.
class ExtractCommand : public ArchiveCommand {
public:
    ExtractCommand() : ArchiveCommand(false, true) {}

    void AddOptions(CommandOptions::Verb& command) override;

private:
    int RunOn(const InspectedArchive& archive, EntrySelector& selector, std::ostream& out,
              std::ostream& err) override;
    int RunOnMerged(const MergedView& view, EntrySelector& selector, std::ostream& out, std::ostream& err) override;

    std::string directory_ = ".";
    bool force_ = false;
};

}  // namespace zelkor
