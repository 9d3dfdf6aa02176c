#include "cache/build_records.h"

#include <algorithm>

#include "platform/little_endian.h"

namespace zelkor {

namespace {

constexpr std::size_t ArchiveAt = 32;
constexpr std::size_t HasKeyFileAt = ArchiveAt + RecordedStatus::Size;
constexpr std::size_t KeyFileAt = HasKeyFileAt + 1;
constexpr std::size_t ProvenAt = KeyFileAt + RecordedStatus::Size;

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

std::vector<std::uint8_t> BuildRecords::Encode(const Record& record)
{
    std::vector<std::uint8_t> payload(Record::Size, 0);
    std::copy(record.inputs.begin(), record.inputs.end(), payload.begin());
    record.archive.EncodeTo(&payload[ArchiveAt]);
    payload[HasKeyFileAt] = record.keyFile ? 1 : 0;
    if (record.keyFile)
        record.keyFile->EncodeTo(&payload[KeyFileAt]);
    EncodeFixed64(&payload[ProvenAt], static_cast<std::uint64_t>(record.proven));
    return payload;
}

std::optional<BuildRecords::Record> BuildRecords::Decode(std::span<const std::uint8_t> payload)
{
    if (payload.size() != Record::Size || payload[HasKeyFileAt] > 1)
        return std::nullopt;
    Record record;
    std::copy(payload.begin(), payload.begin() + 32, record.inputs.begin());
    record.archive = RecordedStatus::DecodeFrom(&payload[ArchiveAt]);
    if (payload[HasKeyFileAt] == 1)
        record.keyFile = RecordedStatus::DecodeFrom(&payload[KeyFileAt]);
    record.proven = static_cast<std::int64_t>(DecodeFixed64(&payload[ProvenAt]));
    return record;
}

}  // namespace zelkor
