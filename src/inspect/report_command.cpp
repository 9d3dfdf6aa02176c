#include "inspect/report_command.h"

#include "inspect/archive_report.h"
#include "runtime/exit_status.h"

namespace zelkor {

void ReportCommand::AddOptions(CommandOptions::Verb& command)
{
    ArchiveCommand::AddOptions(command);
    command.Option("-o,--output", page_, "The page to write; default ARCHIVE.html", "FILE");
}

int ReportCommand::RunOn(const InspectedArchive& archive, EntrySelector& selector, std::ostream& out, std::ostream&)
{
    ArchiveReport::Write(archive, selector, page_.empty() ? archive.ArchivePath() + ".html" : page_, out);
    return ExitSuccess;
}

}  // namespace zelkor
