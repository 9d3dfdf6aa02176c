#include "inspect/extract_command.h"

#include <optional>
#include <unordered_map>
#include <vector>

#include "inspect/entry_walk.h"
#include "inspect/extract_path.h"
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
    const ExtractCommand::Summary summary = ExtractCommand::Extract(walk, tree, force_);
    walk.Finish();
    ExtractCommand::PrintSummary(archive, selector, summary, directory_, out);
    return summary.refused == 0 ? ExitSuccess : ExitWarnings;
}

int ExtractCommand::RunOnMerged(const MergedView& view, EntrySelector& selector, std::ostream& out, std::ostream& err)
{
    OutputTree tree(directory_);
    const ExtractCommand::Summary summary = ExtractCommand::ExtractMerged(view, selector, tree, force_, err);
    ExtractCommand::PrintMergedSummary(view, selector, summary, directory_, out);
    return summary.refused == 0 ? ExitSuccess : ExitWarnings;
}

namespace {

using Summary = ExtractCommand::Summary;

// Counts a file written or found in place; otherwise why it was not written.
std::optional<std::string> Counted(const OutputTree::Result& result, ExtractCommand::Summary& summary)
{
    switch (result.outcome) {
    case OutputTree::Outcome::Written:
        ++summary.written;
        return std::nullopt;
    case OutputTree::Outcome::Unchanged:
        ++summary.unchanged;
        return std::nullopt;
    case OutputTree::Outcome::Exists:
        return result.detail + " (use --force to overwrite it)";
    case OutputTree::Outcome::Blocked:
        return result.detail + (result.madeFor ? " made for entry " + std::to_string(*result.madeFor) : std::string());
    case OutputTree::Outcome::Failed:
        break;
    }
    return result.detail;
}

// NTFS takes names that differ only in case for one: with Windows' names, the
// entry placed at such a name already, and where.
std::optional<std::string> CaseTwin(const std::unordered_map<std::string, std::string>& placedFolded,
                                    const std::string& relative)
{
    if (!WindowsFileNames)
        return std::nullopt;
    const auto folded = placedFolded.find(ExtractPath::FoldedCase(relative));
    if (folded == placedFolded.end() || folded->second == relative)
        return std::nullopt;
    return folded->second;
}

// One run of Extract: where its entries went so far, and the steps each entry
// goes through.
class Extraction {
public:
    Extraction(EntryWalk& walk, OutputTree& tree, bool force)
        : walk_(walk), archive_(walk.Archive()), messages_(walk.Messages()), tree_(tree), force_(force)
    {
    }

    void Take(const ArchiveReader::Entry& entry)
    {
        const std::string name = archive_.HasNames() ? entry.name : Hex32(entry.fields.nameHash) + ".bin";
        const ExtractPath path = ExtractPath::Parse(name);
        if (const std::optional<std::string> why = Unreadable(entry, path))
            return Refuse(entry, *why);
        if (const std::optional<std::string> why = CaseClash(path))
            return Refuse(entry, *why);
        if (TakenEarlier(entry, path))
            return;
        Place(entry, path);
    }

    Summary& Totals() { return summary_; }

private:
    void Refuse(const ArchiveReader::Entry& entry, const std::string& why)
    {
        messages_ << archive_.Describe(entry) << ": not written: " << why << '\n';
        ++summary_.refused;
    }

    // Why the entry cannot be written at all: a name refused, a name that its
    // hash was not made from, content that does not decode. The content is
    // decoded when it can be.
    std::optional<std::string> Unreadable(const ArchiveReader::Entry& entry, const ExtractPath& path)
    {
        if (path.IsRefused())
            return path.Refusal();
        // A key file can name any file for any entry; only the name that the
        // entry's name hash was made from is trusted.
        if (std::string mismatch = archive_.NameHashMismatch(entry); !mismatch.empty())
            return mismatch;
        const ArchiveReader::ContentStatus status = walk_.Decode(entry, content_);
        if (status != ArchiveReader::ContentStatus::Ok)
            return EntryReader::Describe(status);
        return std::nullopt;
    }

    // With Windows' names, an entry placed already at a name that differs only
    // in case, which the later entry would overwrite.
    std::optional<std::string> CaseClash(const ExtractPath& path) const
    {
        const std::optional<std::string> twin = CaseTwin(placedFolded_, path.Relative());
        if (!twin)
            return std::nullopt;
        const ExtractPath other = ExtractPath::Parse(*twin);
        return "entry " + std::to_string(placedBy_.at(*twin)) + " is at " +
               tree_.Display(other.Components(), other.Components().size()) +
               ", a name that differs only in case, which Windows takes for the same";
    }

    // Whether an earlier entry of this run holds the name (without --force):
    // skipped when it holds the same content, refused otherwise.
    bool TakenEarlier(const ArchiveReader::Entry& entry, const ExtractPath& path)
    {
        const auto earlier = placedBy_.find(path.Relative());
        if (earlier == placedBy_.end() || force_)
            return false;
        const std::string other = "entry " + std::to_string(earlier->second);
        if (tree_.Holds(path.Components(), content_)) {
            messages_ << archive_.Describe(entry) << ": skipped: the same name and content as " << other << '\n';
            ++summary_.skipped;
        } else {
            Refuse(entry, other + " is at " + tree_.Display(path.Components(), path.Components().size()) +
                              " (use --force to let the later entry win)");
        }
        return true;
    }

    void Place(const ArchiveReader::Entry& entry, const ExtractPath& path)
    {
        const std::uint64_t index = entry.position.index;
        if (const std::optional<std::string> why = Counted(tree_.Write(path.Components(), content_, force_, index), summary_))
            return Refuse(entry, *why);
        const std::string relative = path.Relative();
        placedBy_[relative] = index;
        placedFolded_.emplace(ExtractPath::FoldedCase(relative), relative);
    }

    EntryWalk& walk_;
    const InspectedArchive& archive_;
    std::ostream& messages_;
    OutputTree& tree_;
    bool force_;
    Summary summary_;
    // Where this run has put an entry so far, and which entry it was; with
    // Windows' names, also by the name folded to one case, and as written.
    std::unordered_map<std::string, std::uint64_t> placedBy_;
    std::unordered_map<std::string, std::string> placedFolded_;
    std::vector<std::uint8_t> content_;  // reused for every entry
};

}  // namespace

ExtractCommand::Summary ExtractCommand::Extract(EntryWalk& walk, OutputTree& tree, bool force)
{
    Extraction extraction(walk, tree, force);
    ArchiveReader::Entry entry;
    while (walk.Next(entry))
        extraction.Take(entry);
    Summary& summary = extraction.Totals();
    if (const std::optional<std::string> hint = walk.Hint())
        walk.Messages() << "hint: " << *hint << '\n';
    summary.selected = walk.Selected();
    return summary;
}

void ExtractCommand::PrintSummary(const InspectedArchive& archive, const EntrySelector& selector,
                                    const Summary& summary, const std::string& directory, std::ostream& out)
{
    out << "extracted " << summary.written << " of " << selector.Entries(summary.selected) << " from "
        << InspectedArchive::Printable(archive.ArchivePath()) << ' ' << archive.KeyFileSummary() << " to "
        << InspectedArchive::Printable(directory);
    if (summary.unchanged > 0)
        out << "; " << summary.unchanged << " already there with the same content";
    if (summary.skipped > 0)
        out << "; " << summary.skipped << " skipped as " << (summary.skipped == 1 ? "a duplicate" : "duplicates");
    if (summary.refused > 0)
        out << "; " << summary.refused << " not written";
    out << '\n';
}

ExtractCommand::Summary ExtractCommand::ExtractMerged(const MergedView& view, EntrySelector& selector,
                                                          OutputTree& tree, bool force, std::ostream& messages)
{
    Summary summary;
    // Names are one per entry in a merged view; with Windows' names, where
    // each one went by the name folded to one case, and which entry it was.
    std::unordered_map<std::string, std::string> placedFolded;
    std::unordered_map<std::string, std::string> placedBy;
    std::vector<std::uint8_t> content;  // reused for every entry
    view.ForEach(selector, [&](const MergedView::Entry& entry) {
        ++summary.selected;
        const auto refuse = [&](const std::string& why) {
            messages << view.Describe(entry) << ": not written: " << why << '\n';
            ++summary.refused;
        };
        const ExtractPath path = ExtractPath::Parse(entry.name);
        if (path.IsRefused())
            return refuse(path.Refusal());
        const ArchiveReader::ContentStatus status = view.Read(entry, content);
        if (status != ArchiveReader::ContentStatus::Ok)
            return refuse(EntryReader::Describe(status));
        const std::string relative = path.Relative();
        if (const std::optional<std::string> twin = CaseTwin(placedFolded, relative)) {
            const ExtractPath other = ExtractPath::Parse(*twin);
            return refuse(placedBy.at(*twin) + " is at " + tree.Display(other.Components(), other.Components().size()) +
                          ", a name that differs only in case, which Windows takes for the same");
        }
        if (const std::optional<std::string> why = Counted(tree.Write(path.Components(), content, force, entry.index), summary))
            return refuse(*why);
        placedFolded.emplace(ExtractPath::FoldedCase(relative), relative);
        placedBy.emplace(relative, view.Describe(entry));
    });
    return summary;
}

void ExtractCommand::PrintMergedSummary(const MergedView& view, const EntrySelector& selector, const Summary& summary,
                                          const std::string& directory, std::ostream& out)
{
    out << "extracted " << summary.written << " of " << selector.Entries(summary.selected) << " from " << view.Summary()
        << " to " << InspectedArchive::Printable(directory);
    if (summary.unchanged > 0)
        out << "; " << summary.unchanged << " already there with the same content";
    if (summary.refused > 0)
        out << "; " << summary.refused << " not written";
    out << '\n';
}

}  // namespace zelkor
