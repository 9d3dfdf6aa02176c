#include "inspect/archive_extractor.h"

#include <optional>
#include <unordered_map>
#include <vector>

#include "inspect/extract_path.h"

namespace zelkor {

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
        if (WindowsFileNames) {
            // NTFS takes names that differ only in case for one: the later
            // entry would overwrite the earlier one.
            const auto folded = placedFolded.find(ExtractPath::FoldedCase(relative));
            if (folded != placedFolded.end() && folded->second != relative) {
                const ExtractPath other = ExtractPath::Parse(folded->second);
                refuse("entry " + std::to_string(placedBy.at(folded->second)) + " is at " +
                       tree.Display(other.Components(), other.Components().size()) +
                       ", a name that differs only in case, which Windows takes for the same");
                continue;
            }
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

        const OutputTree::Result result = tree.Write(path.Components(), content, force, index);
        switch (result.outcome) {
        case OutputTree::Outcome::Written:
            ++summary.written;
            placedBy[relative] = index;
            placedFolded.emplace(ExtractPath::FoldedCase(relative), relative);
            break;
        case OutputTree::Outcome::Unchanged:
            ++summary.unchanged;
            placedBy[relative] = index;
            placedFolded.emplace(ExtractPath::FoldedCase(relative), relative);
            break;
        case OutputTree::Outcome::Exists:
            refuse(result.detail + " (use --force to overwrite it)");
            break;
        case OutputTree::Outcome::Blocked:
            refuse(result.detail +
                   (result.madeFor ? " made for entry " + std::to_string(*result.madeFor) : std::string()));
            break;
        case OutputTree::Outcome::Failed:
            refuse(result.detail);
            break;
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

}  // namespace zelkor
