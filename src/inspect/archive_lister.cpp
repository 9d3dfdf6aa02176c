#include "inspect/archive_lister.h"

#include <cstdint>
#include <cstdio>
#include <iomanip>

#include "inspect/json_writer.h"

namespace zelkor {

namespace {

struct Totals {
    std::uint64_t entries = 0;
    std::uint64_t rawBytes = 0;
    std::uint64_t storedBytes = 0;

    void Add(const FileEntry& fields)
    {
        ++entries;
        rawBytes += fields.rawSize;
        storedBytes += fields.storedSize;
    }
};

const char* Method(const FileEntry& fields)
{
    return fields.storedSize < fields.rawSize ? "lz4" : "raw";
}

}  // namespace

void ArchiveLister::PrintText(const InspectedArchive& archive, EntrySelector& selector, std::ostream& out)
{
    out << InspectedArchive::Printable(archive.ArchivePath()) << ", " << archive.KeyFileSummary() << ":\n";
    out << std::setw(7) << "index" << std::setw(12) << "raw" << std::setw(12) << "stored"
        << "  method  content   " << (archive.HasNames() ? "name" : "name hash") << '\n';
    Totals totals;
    ArchiveReader::Entry entry;
    for (ArchiveReader::Walk walk = archive.Reader().Entries(); walk.Next(entry);) {
        if (!selector.Selects(entry.name))
            continue;
        const FileEntry& fields = entry.fields;
        out << std::setw(7) << entry.position.index << std::setw(12) << fields.rawSize << std::setw(12)
            << fields.storedSize << "  " << std::left << std::setw(6) << Method(fields) << std::right << "  "
            << Hex32(fields.contentHash) << "  " << archive.Label(entry) << '\n';
        totals.Add(fields);
    }
    out << selector.Entries(totals.entries) << ", " << totals.rawBytes
        << " bytes raw, " << totals.storedBytes << " bytes stored";
    if (totals.rawBytes > 0) {
        char percent[32];
        std::snprintf(percent, sizeof percent, " (%.1f%%)",
                      100.0 * static_cast<double>(totals.storedBytes) / static_cast<double>(totals.rawBytes));
        out << percent;
    }
    out << '\n';
}

void ArchiveLister::PrintJson(const InspectedArchive& archive, EntrySelector& selector, std::ostream& out)
{
    JsonWriter json(out);
    json.BeginObject();
    archive.WriteFiles(json);
    json.Key("entries").BeginArray();
    Totals totals;
    ArchiveReader::Entry entry;
    for (ArchiveReader::Walk walk = archive.Reader().Entries(); walk.Next(entry);) {
        if (!selector.Selects(entry.name))
            continue;
        const FileEntry& fields = entry.fields;
        json.BeginObject();
        archive.WriteIdentity(json, entry);
        json.Key("rawSize").Number(std::uint64_t{fields.rawSize});
        json.Key("storedSize").Number(std::uint64_t{fields.storedSize});
        json.Key("method").String(Method(fields));
        json.Key("contentHash").String(Hex32(fields.contentHash));
        json.EndObject();
        totals.Add(fields);
    }
    json.EndArray();
    json.Key("totals").BeginObject();
    json.Key("entries").Number(totals.entries);
    json.Key("rawBytes").Number(totals.rawBytes);
    json.Key("storedBytes").Number(totals.storedBytes);
    json.Key("ratio");
    if (totals.rawBytes > 0)
        json.Number(static_cast<double>(totals.storedBytes) / static_cast<double>(totals.rawBytes));
    else
        json.Null();
    json.EndObject();
    json.EndObject();
}

}  // namespace zelkor
