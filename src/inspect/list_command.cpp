#include "inspect/list_command.h"

#include <cstdint>
#include <cstdio>
#include <iomanip>

#include "inspect/json_document.h"
#include "runtime/exit_status.h"

namespace zelkor {

int ListCommand::RunOn(const InspectedArchive& archive, EntrySelector& selector, std::ostream& out, std::ostream&)
{
    if (Json())
        PrintJson(archive, selector, out);
    else
        PrintText(archive, selector, out);
    return ExitSuccess;
}

int ListCommand::RunOnMerged(const MergedView& view, EntrySelector& selector, std::ostream& out, std::ostream&)
{
    if (Json())
        PrintMergedJson(view, selector, out);
    else
        PrintMergedText(view, selector, out);
    return ExitSuccess;
}

namespace {

struct Totals {
    std::uint64_t entries = 0;
    std::uint64_t rawBytes = 0;
    std::uint64_t storedBytes = 0;
    // Entries large enough for compression to have cost something, stored raw
    // because it did not make them smaller (or a Store pattern named them).
    std::uint64_t largeRawEntries = 0;
    std::uint64_t largeRawBytes = 0;
};

constexpr std::uint64_t LargeEntry = 64 * 1024;

const char* Method(const FileEntry& fields)
{
    return fields.storedSize < fields.rawSize ? "lz4" : "raw";
}

void Count(Totals& totals, const FileEntry& fields)
{
    ++totals.entries;
    totals.rawBytes += fields.rawSize;
    totals.storedBytes += fields.storedSize;
    if (fields.rawSize > LargeEntry && fields.storedSize == fields.rawSize) {
        ++totals.largeRawEntries;
        totals.largeRawBytes += fields.rawSize;
    }
}

// Calls `row` with each selected entry in archive order, and sums them up.
template <typename Row>
Totals ForEachSelected(const InspectedArchive& archive, EntrySelector& selector, Row row)
{
    Totals totals;
    ArchiveReader::Entry entry;
    for (SetReader::Walk walk = archive.Reader().Entries(); walk.Next(entry);) {
        if (!selector.Selects(entry.name))
            continue;
        row(entry);
        Count(totals, entry.fields);
    }
    return totals;
}

// The columns of a row from the raw size on.
void PrintFields(const FileEntry& fields, std::ostream& out)
{
    out << std::setw(12) << fields.rawSize << std::setw(12) << fields.storedSize << "  " << std::left << std::setw(6)
        << Method(fields) << std::right << "  " << Hex32(fields.contentHash) << "  ";
}

void PrintTotals(const EntrySelector& selector, const Totals& totals, std::ostream& out)
{
    out << selector.Entries(totals.entries) << ", " << totals.rawBytes << " bytes raw, " << totals.storedBytes
        << " bytes stored";
    if (totals.rawBytes > 0) {
        char percent[32];
        std::snprintf(percent, sizeof percent, " (%.1f%%)",
                      100.0 * static_cast<double>(totals.storedBytes) / static_cast<double>(totals.rawBytes));
        out << percent;
    }
    out << '\n';
    if (totals.largeRawEntries > 0)
        out << totals.largeRawBytes << " bytes in " << totals.largeRawEntries
            << (totals.largeRawEntries == 1 ? " entry" : " entries")
            << " of more than 64 KiB stored raw: compressing them gained nothing (a Store pattern skips the"
               " attempt)\n";
}

void AddFields(JsonDocument::Value& row, const FileEntry& fields)
{
    row["rawSize"] = fields.rawSize;
    row["storedSize"] = fields.storedSize;
    row["method"] = Method(fields);
    row["contentHash"] = Hex32(fields.contentHash);
}

JsonDocument::Value TotalsJson(const Totals& totals)
{
    JsonDocument::Value sums;
    sums["entries"] = totals.entries;
    sums["rawBytes"] = totals.rawBytes;
    sums["storedBytes"] = totals.storedBytes;
    sums["ratio"] = totals.rawBytes > 0
                        ? JsonDocument::Value(static_cast<double>(totals.storedBytes) /
                                              static_cast<double>(totals.rawBytes))
                        : JsonDocument::Value(nullptr);
    sums["largeRawEntries"] = totals.largeRawEntries;
    sums["largeRawBytes"] = totals.largeRawBytes;
    return sums;
}

}  // namespace

void ListCommand::PrintText(const InspectedArchive& archive, EntrySelector& selector, std::ostream& out)
{
    out << InspectedArchive::Printable(archive.ArchivePath()) << ", " << archive.KeyFileSummary() << ":\n";
    out << std::setw(7) << "index" << std::setw(12) << "raw" << std::setw(12) << "stored"
        << "  method  content   " << (archive.HasNames() ? "name" : "name hash") << '\n';
    const Totals totals = ForEachSelected(archive, selector, [&](const ArchiveReader::Entry& entry) {
        out << std::setw(7) << entry.position.index;
        PrintFields(entry.fields, out);
        out << archive.Label(entry) << '\n';
    });
    PrintTotals(selector, totals, out);
}

void ListCommand::PrintMergedText(const MergedView& view, EntrySelector& selector, std::ostream& out)
{
    view.PrintSources(out);
    out << std::setw(7) << "archive" << std::setw(7) << "index" << std::setw(12) << "raw" << std::setw(12) << "stored"
        << "  method  content   name\n";
    Totals totals;
    view.ForEach(selector, [&](const MergedView::Entry& entry) {
        out << std::setw(7) << entry.source << std::setw(7) << entry.index;
        PrintFields(entry.fields, out);
        out << InspectedArchive::Printable(entry.name) << '\n';
        Count(totals, entry.fields);
    });
    PrintTotals(selector, totals, out);
}

void ListCommand::PrintMergedJson(const MergedView& view, EntrySelector& selector, std::ostream& out)
{
    JsonDocument json(out);
    json.Member("archives", view.SourcesJson());
    json.BeginArray("entries");
    Totals totals;
    view.ForEach(selector, [&](const MergedView::Entry& entry) {
        JsonDocument::Value row = view.Identity(entry);
        AddFields(row, entry.fields);
        json.Element(row);
        Count(totals, entry.fields);
    });
    json.EndArray();
    json.Member("totals", TotalsJson(totals));
    json.End();
}

void ListCommand::PrintJson(const InspectedArchive& archive, EntrySelector& selector, std::ostream& out)
{
    JsonDocument json(out);
    json.Members(archive.Files());
    json.BeginArray("entries");
    const Totals totals = ForEachSelected(archive, selector, [&](const ArchiveReader::Entry& entry) {
        JsonDocument::Value row = archive.Identity(entry);
        AddFields(row, entry.fields);
        json.Element(row);
    });
    json.EndArray();
    json.Member("totals", TotalsJson(totals));
    json.End();
}

}  // namespace zelkor
