#include "inspect/extract_command.h"

#include <CLI/CLI.hpp>

#include "inspect/archive_extractor.h"
#include "inspect/entry_walk.h"
#include "inspect/output_tree.h"
#include "runtime/exit_status.h"

namespace zelkor {

void ExtractCommand::AddOptions(CLI::App& command)
{
    ArchiveCommand::AddOptions(command);
    command.add_option("-o,--output", directory_, "The directory to write below")
        ->capture_default_str()
        ->type_name("DIR");
    command.add_flag("--force", force_, "Overwrite existing files; a later entry of the same name wins");
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
