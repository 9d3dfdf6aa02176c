#include "inspect/report_command.h"

#include <CLI/CLI.hpp>

#include "inspect/archive_report.h"
#include "runtime/exit_status.h"

namespace zelkor {

void ReportCommand::AddOptions(CLI::App& command)
{
    ArchiveCommand::AddOptions(command);
    command.add_option("-o,--output", page_, "The page to write; default ARCHIVE.html")->type_name("FILE");
}

int ReportCommand::RunOn(const InspectedArchive& archive, EntrySelector& selector, std::ostream& out, std::ostream&)
{
    ArchiveReport::Write(archive, selector, page_.empty() ? archive.ArchivePath() + ".html" : page_, out);
    return ExitSuccess;
}

}  // namespace zelkor
