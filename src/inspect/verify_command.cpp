#include "inspect/verify_command.h"

#include <algorithm>

#include "archive/archive_format.h"
#include "inspect/entry_walk.h"
#include "inspect/json_document.h"
#include "inspect/shared_name_hashes.h"
#include "runtime/exit_status.h"

namespace zelkor {

int VerifyCommand::RunOn(const InspectedArchive& archive, EntrySelector& selector, std::ostream& out,
                         std::ostream& err)
{
    EntryWalk walk(archive, selector, err);
    const VerifyCommand::Report report = VerifyCommand::Verify(walk);
    walk.Finish();
    if (Json())
        VerifyCommand::PrintJson(archive, report, out);
    else
        VerifyCommand::PrintText(archive, selector, report, out);
    return report.Ok() ? ExitSuccess : ExitWarnings;
}

int VerifyCommand::RunOnMerged(const MergedView& view, EntrySelector& selector, std::ostream& out, std::ostream&)
{
    const VerifyCommand::MergedReport report = VerifyCommand::VerifyMerged(view, selector);
    if (Json())
        VerifyCommand::PrintMergedJson(view, report, out);
    else
        VerifyCommand::PrintMergedText(view, selector, report, out);
    return report.Ok() ? ExitSuccess : ExitWarnings;
}

namespace {

using Sharing = VerifyCommand::Sharing;

const char* Kind(Sharing sharing)
{
    switch (sharing) {
    case Sharing::SameName:
        return "same-name";
    case Sharing::CaseOrSeparators:
        return "case-or-separators";
    case Sharing::DifferentNames:
        return "different-names";
    case Sharing::NamesUnknown:
        return "names-unknown";
    }
    return "unknown";
}

const char* Consequence(Sharing sharing)
{
    switch (sharing) {
    case Sharing::SameName:
        return "the same name is stored more than once, and a lookup by name finds only one of them";
    case Sharing::CaseOrSeparators:
        return "the names differ only in letter case or separators, which a lookup by name cannot tell"
               " apart";
    case Sharing::DifferentNames:
        return "different names whose CRC-32 collide, which a lookup by name cannot tell apart";
    case Sharing::NamesUnknown:
        return "without a key file the names are unknown: the same name stored more than once, or"
               " names that a lookup by name cannot tell apart";
    }
    return "";
}

// Reads the names of the group's entries one at a time, so that a group of any
// size costs one name at a time.
Sharing Classify(const InspectedArchive& archive, const std::vector<ArchiveReader::Position>& entries)
{
    if (!archive.HasNames())
        return Sharing::NamesUnknown;
    const SetReader& reader = archive.Reader();
    const std::string first = reader.ReadEntry(entries.front()).name;
    const std::string firstNormalized = NormalizeName(first);
    Sharing sharing = Sharing::SameName;
    for (std::size_t i = 1; i < entries.size(); ++i) {
        const std::string name = reader.ReadEntry(entries[i]).name;
        if (NormalizeName(name) != firstNormalized)
            return Sharing::DifferentNames;
        if (name != first)
            sharing = Sharing::CaseOrSeparators;
    }
    return sharing;
}

}  // namespace

VerifyCommand::Report VerifyCommand::Verify(EntryWalk& walk)
{
    const InspectedArchive& archive = walk.Archive();
    Report report;
    std::vector<std::uint8_t> content;  // reused for every entry
    ArchiveReader::Entry entry;
    while (walk.Next(entry)) {
        BadEntry bad{entry.position};
        bad.status = walk.Decode(entry, content);
        bad.nameMismatch = !archive.NameHashMismatch(entry).empty();
        if (bad.status != ArchiveReader::ContentStatus::Ok || bad.nameMismatch)
            report.bad.push_back(bad);
    }
    report.entries = walk.Selected();
    report.hint = walk.Hint();
    report.shared = FindSharedNameHashes(archive, walk.Selector());
    return report;
}

std::vector<VerifyCommand::SharedNameHash> VerifyCommand::FindSharedNameHashes(
    const InspectedArchive& archive, EntrySelector& selector)
{
    const std::vector<std::uint32_t> sharedHashes = SharedNameHashes::Find(archive, selector);
    if (sharedHashes.empty())
        return {};

    std::vector<SharedNameHash> shared(sharedHashes.size());
    for (std::size_t i = 0; i < shared.size(); ++i)
        shared[i].nameHash = sharedHashes[i];
    ArchiveReader::Entry entry;
    for (SetReader::Walk walk = archive.Reader().Entries(); walk.Next(entry);) {
        if (!selector.Selects(entry.name))
            continue;
        const auto found = std::lower_bound(sharedHashes.begin(), sharedHashes.end(), entry.fields.nameHash);
        if (found != sharedHashes.end() && *found == entry.fields.nameHash)
            shared[static_cast<std::size_t>(found - sharedHashes.begin())].entries.push_back(entry.position);
    }
    for (SharedNameHash& group : shared)
        group.sharing = Classify(archive, group.entries);
    // The report follows the archive.
    std::sort(shared.begin(), shared.end(), [](const SharedNameHash& a, const SharedNameHash& b) {
        return a.entries.front().index < b.entries.front().index;
    });
    return shared;
}

std::vector<std::string> VerifyCommand::Faults(const InspectedArchive& archive, const BadEntry& bad,
                                                 const ArchiveReader::Entry& entry)
{
    std::vector<std::string> faults;
    if (bad.status != ArchiveReader::ContentStatus::Ok)
        faults.push_back(EntryReader::Describe(bad.status));
    if (bad.nameMismatch)
        faults.push_back(archive.NameHashMismatch(entry));
    return faults;
}

void VerifyCommand::PrintText(const InspectedArchive& archive, const EntrySelector& selector,
                                const Report& report, std::ostream& out)
{
    const SetReader& reader = archive.Reader();
    for (const BadEntry& bad : report.bad) {
        const ArchiveReader::Entry entry = reader.ReadEntry(bad.position);
        const std::vector<std::string> faults = Faults(archive, bad, entry);
        out << archive.Describe(entry) << ": ";
        for (std::size_t i = 0; i < faults.size(); ++i)
            out << (i > 0 ? "; " : "") << faults[i];
        out << '\n';
    }
    for (const SharedNameHash& shared : report.shared) {
        out << "warning: entries ";
        for (std::size_t i = 0; i < shared.entries.size(); ++i) {
            if (i > 0)
                out << (i + 1 == shared.entries.size() ? " and " : ", ");
            out << shared.entries[i].index;
            if (archive.HasNames())
                out << " (" << archive.Label(reader.ReadEntry(shared.entries[i])) << ")";
        }
        out << " share name hash " << Hex32(shared.nameHash) << ": " << Consequence(shared.sharing) << '\n';
    }
    if (report.hint)
        out << "hint: " << *report.hint << '\n';
    out << "verified " << InspectedArchive::Printable(archive.ArchivePath()) << ' '
        << archive.KeyFileSummary() << ": " << selector.Entries(report.entries) << ", ";
    if (report.Ok())
        out << (report.entries == 1 ? "intact" : "all intact");
    else
        out << report.bad.size() << " bad";
    if (!report.shared.empty())
        out << "; " << report.shared.size()
            << (report.shared.size() == 1 ? " name hash is" : " name hashes are") << " shared";
    out << '\n';
}

void VerifyCommand::PrintJson(const InspectedArchive& archive, const Report& report, std::ostream& out)
{
    const SetReader& reader = archive.Reader();
    JsonDocument json(out);
    json.Members(archive.Files());
    json.Member("ok", report.Ok());
    json.Member("entries", report.entries);
    json.Member("intact", report.entries - report.bad.size());
    json.BeginArray("bad");
    for (const BadEntry& bad : report.bad) {
        const ArchiveReader::Entry entry = reader.ReadEntry(bad.position);
        JsonDocument::Value item = archive.Identity(entry);
        item["faults"] = Faults(archive, bad, entry);
        json.Element(item);
    }
    json.EndArray();
    json.BeginArray("sharedNameHashes");
    for (const SharedNameHash& shared : report.shared) {
        JsonDocument::Value group;
        group["nameHash"] = Hex32(shared.nameHash);
        group["kind"] = Kind(shared.sharing);
        group["entries"] = JsonDocument::Value::array();
        for (const Position& position : shared.entries)
            group["entries"].push_back(archive.Identity(reader.ReadEntry(position)));
        json.Element(group);
    }
    json.EndArray();
    json.Member("hint", report.hint ? JsonDocument::Text(*report.hint) : JsonDocument::Value(nullptr));
    json.End();
}

VerifyCommand::MergedReport VerifyCommand::VerifyMerged(const MergedView& view, EntrySelector& selector)
{
    MergedReport report;
    std::vector<std::uint8_t> content;  // reused for every entry
    view.ForEach(selector, [&](const MergedView::Entry& entry) {
        ++report.entries;
        const ArchiveReader::ContentStatus status = view.Read(entry, content);
        if (status != ArchiveReader::ContentStatus::Ok)
            report.bad.push_back({entry.source, entry.index, std::string(entry.name), entry.fields, status});
    });
    return report;
}

void VerifyCommand::PrintMergedText(const MergedView& view, const EntrySelector& selector,
                                      const MergedReport& report, std::ostream& out)
{
    view.PrintSources(out);
    for (const MergedReport::Bad& bad : report.bad)
        out << view.Describe({bad.source, bad.index, bad.name, bad.fields}) << ": " << EntryReader::Describe(bad.status)
            << '\n';
    out << "verified " << view.Summary() << ": " << selector.Entries(report.entries) << ", ";
    if (report.Ok())
        out << (report.entries == 1 ? "intact" : "all intact");
    else
        out << report.bad.size() << " bad";
    out << '\n';
}

void VerifyCommand::PrintMergedJson(const MergedView& view, const MergedReport& report, std::ostream& out)
{
    JsonDocument json(out);
    json.Member("archives", view.SourcesJson());
    json.Member("ok", report.Ok());
    json.Member("entries", report.entries);
    json.Member("intact", report.entries - report.bad.size());
    json.BeginArray("bad");
    for (const MergedReport::Bad& bad : report.bad) {
        JsonDocument::Value item = view.Identity({bad.source, bad.index, bad.name, bad.fields});
        item["faults"] = std::vector<std::string>{EntryReader::Describe(bad.status)};
        json.Element(item);
    }
    json.EndArray();
    json.End();
}

}  // namespace zelkor
