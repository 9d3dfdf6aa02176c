#include "records/status_records.h"

#include <algorithm>

#include "platform/file_system.h"
#include "platform/little_endian.h"
#include "platform/wall_clock.h"

namespace zelkor {

namespace {

constexpr std::size_t KeyAt = RecordedStatus::Size;
constexpr std::size_t ContentHashAt = KeyAt + 32;
constexpr std::size_t ProvenAt = ContentHashAt + 4;

}  // namespace

StatusRecords::StatusRecords(const Directory& directory, Options options, std::int64_t now)
    : options_(options), now_(now), table_(directory, FileName, Magic, options.limit, now)
{
}

std::optional<std::string> StatusRecords::NameOf(const std::string& path)
{
    return AbsolutePath(path);
}

bool StatusRecords::Fresh(std::int64_t proven) const
{
    // A proof dated far ahead of now (a clock that was wrong) is no fresher
    // than one as far back.
    const std::int64_t age = NanosecondsSince(now_, proven);
    return age <= options_.trustFor && age >= -options_.trustFor;
}

std::optional<StatusRecords::Record> StatusRecords::Trusted(const std::string& name, const FileStatus& status) const
{
    if (!options_.trust || !status.IsRegular() || !status.keepsChangeTime)
        return std::nullopt;
    const std::optional<std::vector<std::uint8_t>> payload = table_.Find(name);
    if (!payload)
        return std::nullopt;
    const std::optional<Record> record = Decode(*payload);
    if (!record || record->status != RecordedStatus::Of(status) || !Fresh(record->proven))
        return std::nullopt;
    return record;
}

std::optional<std::int64_t> StatusRecords::Read(const std::string& name, const FileStatus& before,
                                                const FileStatus& after, std::int64_t opened,
                                                std::uint64_t contentSize, const CacheKey* key,
                                                std::uint32_t contentHash)
{
    const RecordedStatus status = RecordedStatus::Of(before);
    // Moved while it was read, of a size the system does not report truly (as
    // some special file systems do), or on a file system whose times may lie:
    // read every time.
    if (!before.IsRegular() || !before.keepsChangeTime || RecordedStatus::Of(after) != status ||
        contentSize != status.size)
        return std::nullopt;
    // Changed too recently before it was opened to tell a later change in the
    // same tick apart.
    if (NanosecondsSince(opened, status.LastChange()) < options_.settle)
        return std::nullopt;
    std::int64_t proven = opened;
    if (key) {
        const std::optional<std::vector<std::uint8_t>> payload = table_.Find(name);
        const std::optional<Record> last = payload ? Decode(*payload) : std::nullopt;
        if (last && last->status == status && last->key == *key && last->contentHash == contentHash) {
            const std::int64_t since = NanosecondsSince(opened, last->proven);
            if (since >= 0 && since < RecordTable::UseRecordedEvery)
                proven = last->proven;
        }
        table_.Put(name, Encode({status, *key, contentHash, proven}));
    }
    return proven;
}

std::vector<std::uint8_t> StatusRecords::Encode(const Record& record)
{
    std::vector<std::uint8_t> payload(Record::Size);
    record.status.EncodeTo(payload.data());
    std::copy(record.key.bytes.begin(), record.key.bytes.end(), payload.begin() + KeyAt);
    EncodeFixed32(&payload[ContentHashAt], record.contentHash);
    EncodeFixed64(&payload[ProvenAt], static_cast<std::uint64_t>(record.proven));
    return payload;
}

std::optional<StatusRecords::Record> StatusRecords::Decode(std::span<const std::uint8_t> payload)
{
    if (payload.size() != Record::Size)
        return std::nullopt;
    Record record;
    record.status = RecordedStatus::DecodeFrom(payload.data());
    std::copy(payload.begin() + KeyAt, payload.begin() + KeyAt + 32, record.key.bytes.begin());
    record.contentHash = DecodeFixed32(&payload[ContentHashAt]);
    record.proven = static_cast<std::int64_t>(DecodeFixed64(&payload[ProvenAt]));
    return record;
}

}  // namespace zelkor
