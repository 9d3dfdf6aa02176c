#include "inspect/extract_command.h"

#include "inspect/archive_extractor.h"
#include "inspect/entry_walk.h"
#include "inspect/output_tree.h"
#include "runtime/exit_status.h"

namespace zelkor {

void ExtractCommand::AddOptions(CommandOptions::Verb& command)
{
    ArchiveCommand::AddOptions(command);
    command.Option("-o,--output", directory_, "The directory to write below", "DIR", true);
    command.Flag("--force", force_, "Overwrite existing files; a later entry of the same name wins");
}

int ExtractCommand::RunOn(const InspectedArchive& archive, EntrySelector& selector, std::ostream& out,
                          std::ostream& err)
{
    OutputTree tree(directory_);
    EntryWalk walk(archive, selector, err);
    const ArchiveExtractor::Summary summary = ArchiveExtractor::Extract(walk, tree, force_);
    walk.Finish();
    ArchiveExtractor::PrintSummary(archive, selector, summary, directory_, out);
    return summary.refused == 0 ? ExitSuccess : ExitWarnings;
}

int ExtractCommand::RunOnMerged(const MergedView& view, EntrySelector& selector, std::ostream& out, std::ostream& err)
{
    OutputTree tree(directory_);
    const ArchiveExtractor::Summary summary = ArchiveExtractor::ExtractMerged(view, selector, tree, force_, err);
    ArchiveExtractor::PrintMergedSummary(view, selector, summary, directory_, out);
    return summary.refused == 0 ? ExitSuccess : ExitWarnings;
}

}  // namespace zelkor
