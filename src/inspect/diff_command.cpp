#include "inspect/diff_command.h"

#include "inspect/archive_differ.h"
#include "runtime/exit_status.h"

namespace zelkor {

void DiffCommand::AddOptions(CommandOptions::Verb& command)
{
    command.Argument("OLD", older_, "The archive of the earlier build", true);
    command.Argument("NEW", newer_, "The archive of the later build", true);
    olderKey_.AddTo(command, "", "OLD");
    newerKey_.AddTo(command, "new-", "NEW");
    command.Flag("--json", json_, "Write one JSON document");
}

int DiffCommand::Run(std::ostream& out, std::ostream&)
{
    const InspectedArchive older = olderKey_.Open(older_);
    const InspectedArchive newer = newerKey_.Open(newer_);
    const ArchiveDiffer::Report report = ArchiveDiffer::Compare(older, newer);
    if (json_)
        ArchiveDiffer::PrintJson(older, newer, report, out);
    else
        ArchiveDiffer::PrintText(older, newer, report, out);
    return report.Same() ? ExitSuccess : ExitWarnings;
}

std::optional<JsonDocument::Value> DiffCommand::FailureMembers() const
{
    if (!json_)
        return std::nullopt;
    JsonDocument::Value members;
    members["old"] = JsonDocument::Text(older_);
    members["new"] = JsonDocument::Text(newer_);
    return members;
}

}  // namespace zelkor
