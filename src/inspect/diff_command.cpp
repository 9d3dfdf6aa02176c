#include "inspect/diff_command.h"

#include <algorithm>
#include <iomanip>
#include <limits>
#include <string>
#include <unordered_map>

#include "inspect/json_document.h"
#include "runtime/exit_status.h"

namespace zelkor {

void DiffCommand::AddOptions(CommandOptions::Verb& command)
{
    command.Argument("OLD", older_, "The archive of the earlier build", true);
    command.Argument("NEW", newer_, "The archive of the later build", true);
    olderKey_.AddTo(command, "", "OLD");
    newerKey_.AddTo(command, "new-", "NEW");
    command.Flag("--json", json_, "Write one JSON document");
}

int DiffCommand::Run(std::ostream& out, std::ostream&)
{
    const InspectedArchive older = olderKey_.Open(older_);
    const InspectedArchive newer = newerKey_.Open(newer_);
    const DiffCommand::Report report = DiffCommand::Compare(older, newer);
    if (json_)
        DiffCommand::PrintJson(older, newer, report, out);
    else
        DiffCommand::PrintText(older, newer, report, out);
    return report.Same() ? ExitSuccess : ExitWarnings;
}

std::optional<JsonDocument::Value> DiffCommand::FailureMembers() const
{
    if (!json_)
        return std::nullopt;
    JsonDocument::Value members;
    members["old"] = JsonDocument::Text(older_);
    members["new"] = JsonDocument::Text(newer_);
    return members;
}

namespace {

using Entry = ArchiveReader::Entry;
using Change = DiffCommand::Change;

constexpr std::size_t None = std::numeric_limits<std::size_t>::max();

// What two entries are matched by: the name, or the name hash as four bytes.
std::string MatchKey(const Entry& entry, bool byName)
{
    if (byName)
        return entry.name;
    std::string key(4, '\0');
    EncodeFixed32(reinterpret_cast<std::uint8_t*>(key.data()), entry.fields.nameHash);
    return key;
}

bool SameContent(const FileEntry& a, const FileEntry& b)
{
    return a.contentHash == b.contentHash && a.rawSize == b.rawSize && a.storedSize == b.storedSize;
}

// Which elements of `sequence` lie on one longest strictly increasing run
// (patience sorting, n log n): the matched entries that kept their order.
std::vector<bool> InOrder(const std::vector<std::uint64_t>& sequence)
{
    std::vector<std::size_t> tails;  // the smallest last element of a run of each length
    std::vector<std::size_t> previous(sequence.size(), None);
    for (std::size_t i = 0; i < sequence.size(); ++i) {
        const auto below = [&](std::size_t tail, std::uint64_t value) { return sequence[tail] < value; };
        const auto at = std::lower_bound(tails.begin(), tails.end(), sequence[i], below);
        if (at != tails.begin())
            previous[i] = *(at - 1);
        if (at == tails.end())
            tails.push_back(i);
        else
            *at = i;
    }
    std::vector<bool> kept(sequence.size(), false);
    for (std::size_t i = tails.empty() ? None : tails.back(); i != None; i = previous[i])
        kept[i] = true;
    return kept;
}

const char* Word(Change change)
{
    switch (change) {
    case Change::Added:
        return "added";
    case Change::Removed:
        return "removed";
    case Change::Changed:
        return "changed";
    case Change::Moved:
        return "moved";
    }
    return "";
}

std::string Where(const DiffCommand::Difference& difference)
{
    const auto index = [](const std::optional<Entry>& entry) { return std::to_string(entry->position.index); };
    if (!difference.older)
        return "entry " + index(difference.newer);
    if (!difference.newer)
        return "entry " + index(difference.older);
    std::string where = "entry " + index(difference.older);
    if (difference.older->position.index != difference.newer->position.index)
        where += " -> " + index(difference.newer);
    return where + (difference.moved && difference.change == Change::Changed ? ", moved" : "");
}

// "12420 -> 12800 bytes, content 75cb0567 -> 1a2b3c4d, 12800 stored"
std::string Sizes(const DiffCommand::Difference& difference)
{
    const auto from = [](std::uint64_t a, std::uint64_t b) {
        return a == b ? std::to_string(b) : std::to_string(a) + " -> " + std::to_string(b);
    };
    const auto bytes = [](std::uint64_t a, std::uint64_t b) { return a == 1 && b == 1 ? " byte" : " bytes"; };
    if (!difference.older || !difference.newer) {
        const FileEntry& fields = difference.older ? difference.older->fields : difference.newer->fields;
        return std::to_string(fields.rawSize) + bytes(fields.rawSize, fields.rawSize) + ", " +
               std::to_string(fields.storedSize) + " stored";
    }
    const FileEntry& a = difference.older->fields;
    const FileEntry& b = difference.newer->fields;
    std::string sizes = from(a.rawSize, b.rawSize) + bytes(a.rawSize, b.rawSize);
    if (a.contentHash != b.contentHash)
        sizes += ", content " + Hex32(a.contentHash) + " -> " + Hex32(b.contentHash);
    return sizes + ", " + from(a.storedSize, b.storedSize) + " stored";
}

JsonDocument::Value Side(const InspectedArchive& archive, const std::optional<Entry>& entry)
{
    if (!entry)
        return nullptr;
    JsonDocument::Value side = archive.Identity(*entry);
    side["rawSize"] = entry->fields.rawSize;
    side["storedSize"] = entry->fields.storedSize;
    side["contentHash"] = Hex32(entry->fields.contentHash);
    return side;
}

// The entries of two archives, each new one matched with an old one that
// carries its key, in order.
struct Matching {
    std::vector<Entry> olds;
    std::vector<Entry> news;
    std::vector<std::size_t> match;       // per new entry, its old entry or None
    std::vector<std::uint64_t> sequence;  // the old entries matched, in the new order
    std::vector<bool> oldMatched;
};

Matching Match(const InspectedArchive& older, const InspectedArchive& newer, bool byName)
{
    Matching m;
    // The old entries, and for each key the old entries that carry it, in order,
    // with how many of them the new archive has matched so far.
    struct Carriers {
        std::vector<std::size_t> entries;
        std::size_t matched = 0;
    };
    std::unordered_map<std::string, Carriers> byKey;
    Entry entry;
    for (SetReader::Walk walk = older.Reader().Entries(); walk.Next(entry);) {
        byKey[MatchKey(entry, byName)].entries.push_back(m.olds.size());
        m.olds.push_back(entry);
    }

    m.oldMatched.assign(m.olds.size(), false);
    for (SetReader::Walk walk = newer.Reader().Entries(); walk.Next(entry);) {
        std::size_t matched = None;
        if (const auto found = byKey.find(MatchKey(entry, byName)); found != byKey.end()) {
            Carriers& carriers = found->second;
            if (carriers.matched < carriers.entries.size()) {
                matched = carriers.entries[carriers.matched++];
                m.oldMatched[matched] = true;
                m.sequence.push_back(matched);
            }
        }
        m.match.push_back(matched);
        m.news.push_back(entry);
    }
    return m;
}

}  // namespace

DiffCommand::Report DiffCommand::Compare(const InspectedArchive& older, const InspectedArchive& newer)
{
    Report report;
    report.byName = older.HasNames() && newer.HasNames();
    const ArchiveKey& oldKey = older.Reader().Key();
    const ArchiveKey& newKey = newer.Reader().Key();
    report.sameKeyMaterial = oldKey.key == newKey.key && oldKey.iv == newKey.iv;

    Matching m = Match(older, newer, report.byName);
    const std::vector<Entry>& olds = m.olds;
    const std::vector<Entry>& news = m.news;
    const std::vector<std::size_t>& match = m.match;
    const std::vector<bool>& oldMatched = m.oldMatched;
    const std::vector<bool> kept = InOrder(m.sequence);

    for (std::size_t i = 0; i < olds.size(); ++i) {
        if (!oldMatched[i]) {
            report.differences.push_back({Change::Removed, false, olds[i], std::nullopt});
            ++report.removed;
        }
    }
    std::size_t matchedSoFar = 0;
    for (std::size_t i = 0; i < news.size(); ++i) {
        if (match[i] == None) {
            report.differences.push_back({Change::Added, false, std::nullopt, news[i]});
            ++report.added;
            report.deltaBytes += news[i].fields.storedSize;
            continue;
        }
        const Entry& old = olds[match[i]];
        const bool moved = !kept[matchedSoFar++];
        report.moved += moved;
        if (!SameContent(old.fields, news[i].fields)) {
            report.differences.push_back({Change::Changed, moved, old, news[i]});
            ++report.changed;
            report.deltaBytes += news[i].fields.storedSize;
        } else if (moved) {
            report.differences.push_back({Change::Moved, true, old, news[i]});
        } else {
            ++report.unchanged;
        }
    }
    return report;
}

void DiffCommand::PrintText(const InspectedArchive& older, const InspectedArchive& newer, const Report& report,
                              std::ostream& out)
{
    out << InspectedArchive::Printable(older.ArchivePath()) << ' ' << older.KeyFileSummary() << " -> "
        << InspectedArchive::Printable(newer.ArchivePath()) << ' ' << newer.KeyFileSummary()
        << ", entries matched by " << (report.byName ? "name" : "name hash") << ":\n";
    for (const Difference& difference : report.differences) {
        // Names from the new archive where it has them.
        const bool fromNew = difference.newer && (newer.HasNames() || !older.HasNames() || !difference.older);
        const std::string label = fromNew ? newer.Label(*difference.newer) : older.Label(*difference.older);
        out << std::left << std::setw(9) << Word(difference.change) << std::right << label << " ("
            << Where(difference) << ")";
        if (difference.change != Change::Moved)
            out << ": " << Sizes(difference);
        out << '\n';
    }
    if (!report.sameKeyMaterial)
        out << "note: the archives are encrypted with different key material, so every stored byte differs,"
               " whatever the contents\n";
    if (report.Same()) {
        out << "the same " << report.unchanged << (report.unchanged == 1 ? " entry" : " entries")
            << " in the same order\n";
        return;
    }
    out << report.added << " added, " << report.removed << " removed, " << report.changed << " changed, "
        << report.moved << " moved, " << report.unchanged << " unchanged; " << report.deltaBytes
        << " stored bytes in the added and changed entries, the most a binary delta needs to carry\n";
}

void DiffCommand::PrintJson(const InspectedArchive& older, const InspectedArchive& newer, const Report& report,
                              std::ostream& out)
{
    JsonDocument json(out);
    json.Member("old", older.Files());
    json.Member("new", newer.Files());
    json.Member("matchedBy", report.byName ? "name" : "nameHash");
    json.Member("sameKeyMaterial", report.sameKeyMaterial);
    json.Member("same", report.Same());
    json.BeginArray("differences");
    for (const Difference& difference : report.differences) {
        JsonDocument::Value item;
        item["change"] = Word(difference.change);
        item["moved"] = difference.moved;
        item["old"] = Side(older, difference.older);
        item["new"] = Side(newer, difference.newer);
        json.Element(item);
    }
    json.EndArray();
    JsonDocument::Value totals;
    totals["added"] = report.added;
    totals["removed"] = report.removed;
    totals["changed"] = report.changed;
    totals["moved"] = report.moved;
    totals["unchanged"] = report.unchanged;
    totals["deltaBytes"] = report.deltaBytes;
    json.Member("totals", totals);
    json.End();
}

}  // namespace zelkor
