#include "inspect/verify_command.h"

#include "inspect/archive_verifier.h"
#include "inspect/entry_walk.h"
#include "runtime/exit_status.h"

namespace zelkor {

int VerifyCommand::RunOn(const InspectedArchive& archive, EntrySelector& selector, std::ostream& out,
                         std::ostream& err)
{
    EntryWalk walk(archive, selector, err);
    const ArchiveVerifier::Report report = ArchiveVerifier::Verify(walk);
    walk.Finish();
    if (Json())
        ArchiveVerifier::PrintJson(archive, report, out);
    else
        ArchiveVerifier::PrintText(archive, selector, report, out);
    return report.Ok() ? ExitSuccess : ExitWarnings;
}

int VerifyCommand::RunOnMerged(const MergedView& view, EntrySelector& selector, std::ostream& out, std::ostream&)
{
    const ArchiveVerifier::MergedReport report = ArchiveVerifier::VerifyMerged(view, selector);
    if (Json())
        ArchiveVerifier::PrintMergedJson(view, report, out);
    else
        ArchiveVerifier::PrintMergedText(view, selector, report, out);
    return report.Ok() ? ExitSuccess : ExitWarnings;
}

}  // namespace zelkor
