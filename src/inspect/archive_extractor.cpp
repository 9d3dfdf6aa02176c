#include "inspect/archive_extractor.h"

#include <optional>
#include <unordered_map>
#include <vector>

#include "inspect/extract_path.h"

namespace zelkor {

namespace {

// Counts a file written or found in place; otherwise why it was not written.
std::optional<std::string> Counted(const OutputTree::Result& result, ArchiveExtractor::Summary& summary)
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

}  // namespace

ArchiveExtractor::Summary ArchiveExtractor::Extract(EntryWalk& walk, OutputTree& tree, bool force)
{
    const InspectedArchive& archive = walk.Archive();
    std::ostream& messages = walk.Messages();
    Summary summary;
    // Where this run has put an entry so far, and which entry it was; with
    // Windows' names, also by the name folded to one case, and as written.
    std::unordered_map<std::string, std::uint64_t> placedBy;
    std::unordered_map<std::string, std::string> placedFolded;
    std::vector<std::uint8_t> content;  // reused for every entry

    ArchiveReader::Entry entry;
    while (walk.Next(entry)) {
        const std::uint64_t index = entry.position.index;
        const auto refuse = [&](const std::string& why) {
            messages << archive.Describe(entry) << ": not written: " << why << '\n';
            ++summary.refused;
        };
        const std::string name = archive.HasNames() ? entry.name : Hex32(entry.fields.nameHash) + ".bin";
        const ExtractPath path = ExtractPath::Parse(name);
        if (path.IsRefused()) {
            refuse(path.Refusal());
            continue;
        }
        // A key file can name any file for any entry; only the name that the
        // entry's name hash was made from is trusted.
        if (const std::string mismatch = archive.NameHashMismatch(entry); !mismatch.empty()) {
            refuse(mismatch);
            continue;
        }

        const ArchiveReader::ContentStatus status = walk.Decode(entry, content);
        if (status != ArchiveReader::ContentStatus::Ok) {
            refuse(EntryReader::Describe(status));
            continue;
        }

        const std::string relative = path.Relative();
        if (const std::optional<std::string> twin = CaseTwin(placedFolded, relative)) {
            // The later entry would overwrite the earlier one.
            const ExtractPath other = ExtractPath::Parse(*twin);
            refuse("entry " + std::to_string(placedBy.at(*twin)) + " is at " +
                   tree.Display(other.Components(), other.Components().size()) +
                   ", a name that differs only in case, which Windows takes for the same");
            continue;
        }
        const auto earlier = placedBy.find(relative);
        if (earlier != placedBy.end() && !force) {
            const std::string other = "entry " + std::to_string(earlier->second);
            if (tree.Holds(path.Components(), content)) {
                messages << archive.Describe(entry) << ": skipped: the same name and content as " << other
                         << '\n';
                ++summary.skipped;
            } else {
                refuse(other + " is at " + tree.Display(path.Components(), path.Components().size()) +
                       " (use --force to let the later entry win)");
            }
            continue;
        }

        if (const std::optional<std::string> why = Counted(tree.Write(path.Components(), content, force, index), summary)) {
            refuse(*why);
        } else {
            placedBy[relative] = index;
            placedFolded.emplace(ExtractPath::FoldedCase(relative), relative);
        }
    }
    if (const std::optional<std::string> hint = walk.Hint())
        messages << "hint: " << *hint << '\n';
    summary.selected = walk.Selected();
    return summary;
}

void ArchiveExtractor::PrintSummary(const InspectedArchive& archive, const EntrySelector& selector,
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

ArchiveExtractor::Summary ArchiveExtractor::ExtractMerged(const MergedView& view, EntrySelector& selector,
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

void ArchiveExtractor::PrintMergedSummary(const MergedView& view, const EntrySelector& selector, const Summary& summary,
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
