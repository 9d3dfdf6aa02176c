#include "inspect/archive_command.h"

#include <algorithm>
#include <stdexcept>

#include "inspect/inspect_messages.h"
#include "runtime/exit_status.h"

namespace zelkor {

void ArchiveCommand::AddOptions(CommandOptions::Verb& command)
{
    command.Argument("ARCHIVE", archive_, "The archive file", true);
    command.Arguments("PATTERN", patterns_,
                      "Only the entries whose names match one of these (* any run, ? one character;"
                      " letter case and \\ against / do not count)");
    key_.AddTo(command, "", "ARCHIVE");
    if (hasMounts_)
        command.RepeatedOption("--mount", mounts_,
                               "Read ARCHIVE with this archive mounted above it (and above every --mount before),"
                               " as a game's mount list does: the merged view, a patch's deletions applied",
                               "ARCHIVE");
    if (hasJson_)
        command.Flag("--json", json_, "Write one JSON document");
}

int ArchiveCommand::Run(std::ostream& out, std::ostream& err)
{
    EntrySelector selector(patterns_);
    int status = 0;
    if (!mounts_.empty()) {
        std::vector<std::string> archives = {archive_};
        archives.insert(archives.end(), mounts_.begin(), mounts_.end());
        const MergedView view(archives, key_);
        status = RunOnMerged(view, selector, out, err);
    } else {
        const InspectedArchive archive = key_.Open(archive_);
        if (!selector.SelectsAll() && !archive.HasNames())
            throw std::runtime_error(inspect_message::PatternsWithoutNames(archive_));
        status = RunOn(archive, selector, out, err);
    }
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
