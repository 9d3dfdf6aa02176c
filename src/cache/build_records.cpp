#include "cache/build_records.h"

#include <algorithm>

#include "platform/little_endian.h"

namespace zelkor {

namespace {

constexpr std::size_t ArchiveAt = 32;
constexpr std::size_t HasKeyFileAt = ArchiveAt + RecordedStatus::Size;
constexpr std::size_t KeyFileAt = HasKeyFileAt + 1;
constexpr std::size_t ProvenAt = KeyFileAt + RecordedStatus::Size;
constexpr std::size_t SetCountAt = BuildRecords::Record::Size;
constexpr std::size_t SetFilesAt = SetCountAt + 4;

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
    const std::size_t size =
        record.setFiles.empty() ? Record::Size : SetFilesAt + record.setFiles.size() * RecordedStatus::Size;
    std::vector<std::uint8_t> payload(size, 0);
    std::copy(record.inputs.begin(), record.inputs.end(), payload.begin());
    record.archive.EncodeTo(&payload[ArchiveAt]);
    payload[HasKeyFileAt] = record.keyFile ? 1 : 0;
    if (record.keyFile)
        record.keyFile->EncodeTo(&payload[KeyFileAt]);
    EncodeFixed64(&payload[ProvenAt], static_cast<std::uint64_t>(record.proven));
    if (!record.setFiles.empty()) {
        EncodeFixed32(&payload[SetCountAt], static_cast<std::uint32_t>(record.setFiles.size()));
        for (std::size_t i = 0; i < record.setFiles.size(); ++i)
            record.setFiles[i].EncodeTo(&payload[SetFilesAt + i * RecordedStatus::Size]);
    }
    return payload;
}

std::optional<BuildRecords::Record> BuildRecords::Decode(std::span<const std::uint8_t> payload)
{
    if (payload.size() < Record::Size || payload[HasKeyFileAt] > 1)
        return std::nullopt;
    Record record;
    if (payload.size() > Record::Size) {
        // Bounded by the payload's own length, which the table bounds.
        if (payload.size() < SetFilesAt)
            return std::nullopt;
        const std::uint32_t count = DecodeFixed32(&payload[SetCountAt]);
        if (count == 0 || payload.size() != SetFilesAt + std::uint64_t{count} * RecordedStatus::Size)
            return std::nullopt;
        for (std::uint32_t i = 0; i < count; ++i)
            record.setFiles.push_back(RecordedStatus::DecodeFrom(&payload[SetFilesAt + i * RecordedStatus::Size]));
    }
    std::copy(payload.begin(), payload.begin() + 32, record.inputs.begin());
    record.archive = RecordedStatus::DecodeFrom(&payload[ArchiveAt]);
    if (payload[HasKeyFileAt] == 1)
        record.keyFile = RecordedStatus::DecodeFrom(&payload[KeyFileAt]);
    record.proven = static_cast<std::int64_t>(DecodeFixed64(&payload[ProvenAt]));
    return record;
}

}  // namespace zelkor
