#include "inspect/archive_verifier.h"

#include <algorithm>
#include <set>
#include <unordered_map>

#include "archive/archive_format.h"
#include "inspect/json_writer.h"

namespace zelkor {

namespace {

using Sharing = ArchiveVerifier::Sharing;

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

Sharing Classify(const InspectedArchive& archive, const std::vector<std::size_t>& entries)
{
    if (!archive.HasNames())
        return Sharing::NamesUnknown;
    std::set<std::string> names;
    std::set<std::string> normalized;
    for (const std::size_t index : entries) {
        const std::string& name = archive.Reader().Entries()[index].name;
        names.insert(name);
        normalized.insert(NormalizeName(name));
    }
    if (normalized.size() > 1)
        return Sharing::DifferentNames;
    if (names.size() > 1)
        return Sharing::CaseOrSeparators;
    return Sharing::SameName;
}

}  // namespace

ArchiveVerifier::Report ArchiveVerifier::Verify(const InspectedArchive& archive)
{
    const ArchiveReader& reader = archive.Reader();
    const auto& entries = reader.Entries();
    Report report;
    report.entries = entries.size();
    std::size_t withContent = 0;
    std::size_t undecodable = 0;
    std::vector<std::uint8_t> content;  // reused for every entry
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const ArchiveReader::Entry& entry = entries[i];
        BadEntry bad{i, {}};
        const ArchiveReader::ContentStatus status = reader.ReadContent(i, content);
        if (entry.fields.rawSize > 0)
            ++withContent;
        if (status != ArchiveReader::ContentStatus::Ok) {
            ++undecodable;
            bad.faults.push_back(EntryCodec::Describe(status));
        }
        if (archive.HasNames()) {
            const std::uint32_t expected = NameHash(entry.name);
            if (expected != entry.fields.nameHash)
                bad.faults.push_back("name hash " + Hex32(entry.fields.nameHash) +
                                     " does not match its name, whose hash is " +
                                     Hex32(expected));
        }
        if (!bad.faults.empty())
            report.bad.push_back(std::move(bad));
    }
    // An empty entry decodes with any key, so only entries with content tell.
    report.keyFileSuspect = withContent > 0 && undecodable == withContent;
    report.shared = FindSharedNameHashes(archive);
    return report;
}

std::vector<ArchiveVerifier::SharedNameHash> ArchiveVerifier::FindSharedNameHashes(
    const InspectedArchive& archive)
{
    const auto& entries = archive.Reader().Entries();
    std::unordered_map<std::uint32_t, std::vector<std::size_t>> byHash;
    for (std::size_t i = 0; i < entries.size(); ++i)
        byHash[entries[i].fields.nameHash].push_back(i);
    std::vector<SharedNameHash> shared;
    for (auto& [hash, indexes] : byHash) {
        if (indexes.size() > 1)
            shared.push_back({hash, Classify(archive, indexes), std::move(indexes)});
    }
    // The map's order depends on the hashes; the report follows the archive.
    std::sort(shared.begin(), shared.end(),
              [](const SharedNameHash& a, const SharedNameHash& b) { return a.entries[0] < b.entries[0]; });
    return shared;
}

void ArchiveVerifier::PrintText(const InspectedArchive& archive, const Report& report, std::ostream& out)
{
    for (const BadEntry& bad : report.bad) {
        out << archive.Describe(bad.index) << ": ";
        for (std::size_t i = 0; i < bad.faults.size(); ++i)
            out << (i > 0 ? "; " : "") << bad.faults[i];
        out << '\n';
    }
    for (const SharedNameHash& shared : report.shared) {
        out << "warning: entries ";
        for (std::size_t i = 0; i < shared.entries.size(); ++i) {
            const std::size_t index = shared.entries[i];
            if (i > 0)
                out << (i + 1 == shared.entries.size() ? " and " : ", ");
            out << index;
            if (archive.HasNames())
                out << " (" << archive.Label(index) << ")";
        }
        out << " share name hash " << Hex32(shared.nameHash) << ": "
            << Consequence(shared.sharing) << '\n';
    }
    if (report.keyFileSuspect)
        out << "hint: " << archive.KeyFileHint() << '\n';
    out << "verified " << InspectedArchive::Printable(archive.ArchivePath()) << ' '
        << archive.KeyFileSummary() << ": " << report.entries
        << (report.entries == 1 ? " entry, " : " entries, ");
    if (report.Ok())
        out << (report.entries == 1 ? "intact" : "all intact");
    else
        out << report.bad.size() << " bad";
    if (!report.shared.empty())
        out << "; " << report.shared.size()
            << (report.shared.size() == 1 ? " name hash is" : " name hashes are") << " shared";
    out << '\n';
}

void ArchiveVerifier::PrintJson(const InspectedArchive& archive, const Report& report, std::ostream& out)
{
    JsonWriter json(out);
    json.BeginObject();
    archive.WriteFiles(json);
    json.Key("ok").Bool(report.Ok());
    json.Key("entries").Number(std::uint64_t{report.entries});
    json.Key("intact").Number(std::uint64_t{report.entries - report.bad.size()});
    json.Key("bad").BeginArray();
    for (const BadEntry& bad : report.bad) {
        json.BeginObject();
        archive.WriteIdentity(json, bad.index);
        json.Key("faults").BeginArray();
        for (const std::string& fault : bad.faults)
            json.String(fault);
        json.EndArray();
        json.EndObject();
    }
    json.EndArray();
    json.Key("sharedNameHashes").BeginArray();
    for (const SharedNameHash& shared : report.shared) {
        json.BeginObject();
        json.Key("nameHash").String(Hex32(shared.nameHash));
        json.Key("kind").String(Kind(shared.sharing));
        json.Key("entries").BeginArray();
        for (const std::size_t index : shared.entries) {
            json.BeginObject();
            archive.WriteIdentity(json, index);
            json.EndObject();
        }
        json.EndArray();
        json.EndObject();
    }
    json.EndArray();
    json.Key("hint");
    if (report.keyFileSuspect)
        json.String(archive.KeyFileHint());
    else
        json.Null();
    json.EndObject();
}

}  // namespace zelkor
