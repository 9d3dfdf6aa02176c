#include "inspect/report_command.h"

#include <algorithm>
#include <cstdio>
#include <functional>
#include <stdexcept>
#include <tuple>
#include <unordered_map>

#include "inspect/inspect_messages.h"
#include "inspect/shared_name_hashes.h"
#include "output/output_guard.h"
#include "platform/ascii.h"
#include "platform/file_system.h"
#include "report/report_page.h"
#include "runtime/exit_status.h"

namespace zelkor {

void ReportCommand::AddOptions(CommandOptions::Verb& command)
{
    ArchiveCommand::AddOptions(command);
    command.Option("-o,--output", page_, "The page to write; default ARCHIVE.html", "FILE");
}

int ReportCommand::RunOn(const InspectedArchive& archive, EntrySelector& selector, std::ostream& out, std::ostream&)
{
    ReportCommand::Write(archive, selector, page_.empty() ? archive.ArchivePath() + ".html" : page_, out);
    return ExitSuccess;
}

namespace {

using Listed = ReportCommand::Listed;

// Larger stored size first; of equal ones, the earlier entry.
bool Ahead(const Listed& a, const Listed& b)
{
    return a.stored != b.stored ? a.stored > b.stored : a.index < b.index;
}

// The `limit` entries ahead of all others, among those offered one by one.
class Leaders {
public:
    explicit Leaders(std::size_t limit) : limit_(limit) {}

    // Whether an entry of this size and index would be kept.
    bool Wanted(std::uint64_t stored, std::uint64_t index) const
    {
        return heap_.size() < limit_ || Ahead(Listed{index, {}, 0, 0, stored}, heap_.front());
    }

    void Offer(Listed listed)
    {
        if (heap_.size() == limit_) {
            std::pop_heap(heap_.begin(), heap_.end(), Ahead);
            heap_.back() = std::move(listed);
        } else {
            heap_.push_back(std::move(listed));
        }
        std::push_heap(heap_.begin(), heap_.end(), Ahead);
    }

    // The kept entries, first ahead.
    std::vector<Listed> Take()
    {
        std::sort_heap(heap_.begin(), heap_.end(), Ahead);
        return std::move(heap_);
    }

private:
    std::size_t limit_;
    std::vector<Listed> heap_;  // a heap whose front is the last of the kept
};

Listed Listing(const ArchiveReader::Entry& entry)
{
    return Listed{entry.position.index, entry.name.substr(0, ReportCommand::KeptNameLimit), entry.fields.nameHash,
                  entry.fields.rawSize, entry.fields.storedSize};
}

// How many name hashes two or more selected entries share, and how many
// entries share them.
std::pair<std::uint64_t, std::uint64_t> SharedCounts(const InspectedArchive& archive, EntrySelector& selector)
{
    const std::vector<std::uint32_t> shared = SharedNameHashes::Find(archive, selector);
    std::uint64_t entries = 0;
    if (!shared.empty()) {
        SharedNameHashes::Pass(archive, selector, [&](std::uint32_t hash) {
            if (std::binary_search(shared.begin(), shared.end(), hash))
                ++entries;
        });
    }
    return {shared.size(), entries};
}

std::string Kibibytes(std::size_t bytes)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.1f KiB", static_cast<double>(bytes) / 1024);
    return text;
}

}  // namespace

std::string ReportCommand::Extension(std::string_view name)
{
    const std::size_t separator = name.find_last_of("/\\");
    const std::string_view last = separator == std::string_view::npos ? name : name.substr(separator + 1);
    const std::size_t dot = last.rfind('.');
    if (dot == std::string_view::npos || dot == 0 || last.size() - dot - 1 > 16 || dot + 1 == last.size())
        return {};
    return AsciiLowered(last.substr(dot + 1));
}

ReportCommand::Contents ReportCommand::Gather(const InspectedArchive& archive, EntrySelector& selector)
{
    Contents contents(archive.HasNames());
    std::unordered_map<std::string, SizeMap::Sizes> extensions;
    Leaders largest(LargestCount);
    Leaders incompressible(IncompressibleRows);
    ArchiveReader::Entry entry;
    for (SetReader::Walk walk = archive.Reader().Entries(); walk.Next(entry);) {
        if (!selector.Selects(entry.name))
            continue;
        const std::uint64_t raw = entry.fields.rawSize;
        const std::uint64_t stored = entry.fields.storedSize;
        const std::uint64_t index = entry.position.index;
        const SizeMap::Sizes sizes{1, raw, stored};
        contents.totals.Add(sizes);
        // As list tells the method: compressed only when strictly smaller.
        const bool storedRaw = stored >= raw;
        contents.storedRaw += storedRaw ? 1 : 0;
        if (archive.HasNames()) {
            std::string extension = Extension(entry.name);
            const auto found = extensions.find(extension);
            if (found != extensions.end())
                found->second.Add(sizes);
            else if (extensions.size() < ExtensionLimit)
                extensions.emplace(std::move(extension), sizes);
            else
                contents.otherExtensions.Add(sizes);
        }
        if (largest.Wanted(stored, index))
            largest.Offer(Listing(entry));
        if (storedRaw && raw > IncompressibleFrom) {
            contents.allIncompressible.Add(sizes);
            if (incompressible.Wanted(stored, index))
                incompressible.Offer(Listing(entry));
        }
        contents.map.Add(entry.name, entry.fields.nameHash, raw, stored);
    }
    contents.extensions.assign(extensions.begin(), extensions.end());
    std::sort(contents.extensions.begin(), contents.extensions.end(), [](const auto& a, const auto& b) {
        return a.second.stored != b.second.stored ? a.second.stored > b.second.stored : a.first < b.first;
    });
    contents.largest = largest.Take();
    contents.incompressible = incompressible.Take();
    std::tie(contents.sharedNameHashes, contents.sharingEntries) = SharedCounts(archive, selector);
    contents.archivePath = archive.ArchivePath();
    contents.keyFileSummary = archive.KeyFileSummary();
    contents.entries = selector.Entries(contents.totals.files);
    return contents;
}

void ReportCommand::Write(const InspectedArchive& archive, EntrySelector& selector, const std::string& outputPath,
                          std::ostream& out)
{
    const Contents contents = Gather(archive, selector);
    ReportPage::Drawn drawn;
    const std::string page = ReportPage::Render(contents, drawn);

    // The page never takes the place of what it describes. Asked before the
    // output is opened: on Windows the archive, open for reading here, keeps
    // its path from being opened for writing at all.
    std::vector<std::pair<std::string, const char*>> inputs{{archive.ArchivePath(), "the archive itself"}};
    if (archive.KeyPath())
        inputs.emplace_back(*archive.KeyPath(), "the archive's key file");
    if (const SetVolumes* volumes = archive.Volumes()) {
        inputs.emplace_back(volumes->ManifestPath(), "the set's manifest");
        for (std::size_t i = 0; i < volumes->Count(); ++i) {
            inputs.emplace_back(volumes->ArchivePath(i), "a volume of the set");
            if (volumes->KeyPath(i))
                inputs.emplace_back(*volumes->KeyPath(i), "a volume's key file");
        }
    }
    const std::optional<FileStatus> existing = StatusOf(outputPath);
    for (const auto& [input, what] : inputs) {
        FileStatus status;
        const File file = File::OpenRegular(input, OpenFlags::Read, &status);
        if (file.IsOpen() && existing && existing->SameFileAs(status))
            throw std::runtime_error(inspect_message::PageOverInput(outputPath, what));
    }
    OutputGuard guard(outputPath);
    const std::string printable = InspectedArchive::Printable(outputPath);
    if (!guard.Open())
        throw std::runtime_error(inspect_message::CannotCreatePage(outputPath));
    if (!guard.Output().WriteAll(page.data(), page.size()) || !guard.Commit())
        throw std::runtime_error(inspect_message::CannotWritePage(outputPath));

    out << "report of " << InspectedArchive::Printable(archive.ArchivePath()) << " " << archive.KeyFileSummary()
        << ": " << selector.Entries(contents.totals.files) << ", " << drawn.tiles << " rectangles, in " << printable
        << " (" << Kibibytes(page.size()) << ")\n";
}

}  // namespace zelkor
