#include "inspect/archive_command.h"

#include <algorithm>
#include <stdexcept>

#include <CLI/CLI.hpp>

#include "inspect/inspect_messages.h"
#include "platform/exit_status.h"

namespace zelkor {

void ArchiveCommand::AddOptions(CLI::App& command)
{
    command.add_option("ARCHIVE", archive_, "The archive file")->required();
    command.add_option("PATTERN", patterns_,
                       "Only the entries whose names match one of these (* any run, ? one character;"
                       " letter case and \\ against / do not count)");
    key_.AddTo(command, "", "ARCHIVE");
    if (hasJson_)
        command.add_flag("--json", json_, "Write one JSON document");
}

int ArchiveCommand::Run(std::ostream& out, std::ostream& err)
{
    const InspectedArchive archive = key_.Open(archive_);
    EntrySelector selector(patterns_);
    if (!selector.SelectsAll() && !archive.HasNames())
        throw std::runtime_error(inspect_message::PatternsWithoutNames(archive_));
    int status = RunOn(archive, selector, out, err);
    for (const std::string& pattern : selector.Unmatched()) {
        err << inspect_message::Tool << inspect_message::NoEntryMatches(pattern) << '\n';
        status = std::max<int>(status, ExitWarnings);
    }
    return status;
}

std::optional<JsonDocument::Value> ArchiveCommand::FailureMembers() const
{
    if (!json_)
        return std::nullopt;
    JsonDocument::Value members;
    members["archive"] = JsonDocument::Text(archive_);
    return members;
}

}  // namespace zelkor
