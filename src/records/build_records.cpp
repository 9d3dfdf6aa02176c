#include "records/build_records.h"

#include <algorithm>

#include "platform/little_endian.h"
#include "records/field_hasher.h"

namespace zelkor {

namespace {

constexpr std::size_t HasInputsAt = 0;
constexpr std::size_t InputsAt = 1;
constexpr std::size_t ArchiveAt = InputsAt + 32;
constexpr std::size_t HasKeyFileAt = ArchiveAt + RecordedStatus::Size;
constexpr std::size_t KeyFileAt = HasKeyFileAt + 1;
constexpr std::size_t ProvenAt = KeyFileAt + RecordedStatus::Size;
constexpr std::size_t MaterialAt = ProvenAt + 8;
constexpr std::size_t CountAt = MaterialAt + 32;
static_assert(CountAt + 4 == BuildRecords::Record::FixedSize);

// Within an entry.
constexpr std::size_t EntryAt = 32;
constexpr std::size_t StoredAt = EntryAt + FileEntry::Size;
constexpr std::size_t EntryProvenAt = StoredAt + 16;
static_assert(EntryProvenAt + 8 == BuildRecords::Record::Entry::Size);

}  // namespace

BuildRecords::BuildRecords(const Directory& directory, std::size_t limit, std::int64_t now)
    : table_(directory, FileName, Magic, limit, now)
{
}

std::optional<BuildRecords::Record> BuildRecords::Find(const std::string& archive) const
{
    const std::optional<std::vector<std::uint8_t>> payload = table_.Find(archive);
    return payload ? Decode(*payload) : std::nullopt;
}

BuildRecords::Digest BuildRecords::SourceOf(const std::string& name, const RecordedStatus& status, bool storeRaw)
{
    FieldHasher hasher;
    hasher.Add("entry source");
    hasher.Add(name);
    std::uint8_t bytes[RecordedStatus::Size];
    status.EncodeTo(bytes);
    hasher.Add(std::span<const std::uint8_t>(bytes));
    hasher.Add(storeRaw ? std::uint64_t{1} : std::uint64_t{0});
    return hasher.Finish();
}

std::vector<std::uint8_t> BuildRecords::Encode(const Record& record)
{
    const std::size_t setSize = record.setFiles.empty() ? 0 : 4 + record.setFiles.size() * RecordedStatus::Size;
    std::vector<std::uint8_t> payload(Record::FixedSize + record.entries.size() * Record::Entry::Size + setSize, 0);
    payload[HasInputsAt] = record.inputs ? 1 : 0;
    if (record.inputs)
        std::copy(record.inputs->begin(), record.inputs->end(), &payload[InputsAt]);
    record.archive.EncodeTo(&payload[ArchiveAt]);
    payload[HasKeyFileAt] = record.keyFile ? 1 : 0;
    if (record.keyFile)
        record.keyFile->EncodeTo(&payload[KeyFileAt]);
    EncodeFixed64(&payload[ProvenAt], static_cast<std::uint64_t>(record.proven));
    std::copy(record.material.begin(), record.material.end(), &payload[MaterialAt]);
    EncodeFixed32(&payload[CountAt], static_cast<std::uint32_t>(record.entries.size()));
    std::uint8_t* out = &payload[Record::FixedSize];
    for (const Record::Entry& entry : record.entries) {
        std::copy(entry.source.begin(), entry.source.end(), out);
        entry.entry.EncodeTo(std::span<std::uint8_t, FileEntry::Size>(out + EntryAt, FileEntry::Size));
        std::copy(entry.stored.begin(), entry.stored.end(), out + StoredAt);
        EncodeFixed64(out + EntryProvenAt, static_cast<std::uint64_t>(entry.proven));
        out += Record::Entry::Size;
    }
    if (!record.setFiles.empty()) {
        EncodeFixed32(out, static_cast<std::uint32_t>(record.setFiles.size()));
        out += 4;
        for (const RecordedStatus& file : record.setFiles) {
            file.EncodeTo(out);
            out += RecordedStatus::Size;
        }
    }
    return payload;
}

std::optional<BuildRecords::Record> BuildRecords::Decode(std::span<const std::uint8_t> payload)
{
    if (payload.size() < Record::FixedSize || payload[HasInputsAt] > 1 || payload[HasKeyFileAt] > 1)
        return std::nullopt;
    // The entries, then, for a volume set, a count and the further files'
    // statuses; every length bounded by the payload's own.
    const std::uint32_t count = DecodeFixed32(&payload[CountAt]);
    if ((payload.size() - Record::FixedSize) / Record::Entry::Size < count)
        return std::nullopt;
    const std::size_t setAt = Record::FixedSize + std::size_t{count} * Record::Entry::Size;
    std::uint32_t setCount = 0;
    if (payload.size() > setAt) {
        if (payload.size() - setAt < 4)
            return std::nullopt;
        setCount = DecodeFixed32(&payload[setAt]);
        if (setCount == 0 || (payload.size() - setAt - 4) / RecordedStatus::Size != setCount ||
            (payload.size() - setAt - 4) % RecordedStatus::Size != 0)
            return std::nullopt;
    }
    Record record;
    if (payload[HasInputsAt] == 1)
        std::copy_n(&payload[InputsAt], 32, record.inputs.emplace().begin());
    record.archive = RecordedStatus::DecodeFrom(&payload[ArchiveAt]);
    if (payload[HasKeyFileAt] == 1)
        record.keyFile = RecordedStatus::DecodeFrom(&payload[KeyFileAt]);
    record.proven = static_cast<std::int64_t>(DecodeFixed64(&payload[ProvenAt]));
    std::copy_n(&payload[MaterialAt], 32, record.material.begin());
    record.entries.resize(count);
    const std::uint8_t* in = &payload[Record::FixedSize];
    for (Record::Entry& entry : record.entries) {
        std::copy_n(in, 32, entry.source.begin());
        entry.entry = FileEntry::DecodeFrom(std::span<const std::uint8_t, FileEntry::Size>(in + EntryAt, FileEntry::Size));
        std::copy_n(in + StoredAt, 16, entry.stored.begin());
        entry.proven = static_cast<std::int64_t>(DecodeFixed64(in + EntryProvenAt));
        in += Record::Entry::Size;
    }
    for (std::uint32_t i = 0; i < setCount; ++i)
        record.setFiles.push_back(RecordedStatus::DecodeFrom(&payload[setAt + 4 + std::size_t{i} * RecordedStatus::Size]));
    return record;
}

}  // namespace zelkor
