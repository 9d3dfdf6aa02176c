#include "inspect/list_command.h"

#include "inspect/archive_lister.h"
#include "runtime/exit_status.h"

namespace zelkor {

int ListCommand::RunOn(const InspectedArchive& archive, EntrySelector& selector, std::ostream& out, std::ostream&)
{
    if (Json())
        ArchiveLister::PrintJson(archive, selector, out);
    else
        ArchiveLister::PrintText(archive, selector, out);
    return ExitSuccess;
}

int ListCommand::RunOnMerged(const MergedView& view, EntrySelector& selector, std::ostream& out, std::ostream&)
{
    if (Json())
        ArchiveLister::PrintMergedJson(view, selector, out);
    else
        ArchiveLister::PrintMergedText(view, selector, out);
    return ExitSuccess;
}

}  // namespace zelkor
