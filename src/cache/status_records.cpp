#include "cache/status_records.h"

#include <algorithm>

#include "platform/file_system.h"
#include "platform/little_endian.h"
#include "platform/wall_clock.h"

namespace zelkor {

StatusRecords::StatusRecords(const Directory& directory, Options options, std::int64_t now)
    : options_(options), table_(directory, FileName, Magic, options.limit, now)
{
}

std::optional<std::string> StatusRecords::NameOf(const std::string& path)
{
    return AbsolutePath(path);
}

std::optional<StatusRecords::Record> StatusRecords::Trusted(const std::string& name, const FileStatus& status)
{
    if (!options_.trust || !status.IsRegular())
        return std::nullopt;
    const std::optional<std::vector<std::uint8_t>> payload = table_.Find(name);
    if (!payload)
        return std::nullopt;
    const std::optional<Record> record = Decode(*payload);
    if (!record || record->status != RecordedStatus::Of(status))
        return std::nullopt;
    table_.Use(name);
    Confirm(name, record->status);
    return record;
}

void StatusRecords::Read(const std::string& name, const FileStatus& before, const FileStatus& after,
                         std::uint64_t contentSize, const CacheKey* key, std::uint32_t contentHash)
{
    const RecordedStatus status = RecordedStatus::Of(before);
    // Moved while it was read, or of a size the system does not report truly
    // (as some special file systems do): read every time.
    if (!before.IsRegular() || RecordedStatus::Of(after) != status || contentSize != status.size)
        return;
    // Changed too recently to tell a later change in the same tick apart.
    if (status.LastChange() > WallClockNanoseconds() - options_.settle)
        return;
    Confirm(name, status);
    if (key)
        table_.Put(name, Encode({status, *key, contentHash}));
}

std::optional<RecordedStatus> StatusRecords::Confirmed(const std::string& name) const
{
    const std::lock_guard<std::mutex> lock(mutex_);
    const auto found = confirmed_.find(name);
    if (found == confirmed_.end())
        return std::nullopt;
    return found->second;
}

void StatusRecords::Confirm(const std::string& name, const RecordedStatus& status)
{
    const std::lock_guard<std::mutex> lock(mutex_);
    confirmed_[name] = status;
}

std::vector<std::uint8_t> StatusRecords::Encode(const Record& record)
{
    std::vector<std::uint8_t> payload(Record::Size);
    record.status.EncodeTo(payload.data());
    std::copy(record.key.bytes.begin(), record.key.bytes.end(), payload.begin() + RecordedStatus::Size);
    EncodeFixed32(&payload[RecordedStatus::Size + 32], record.contentHash);
    return payload;
}

std::optional<StatusRecords::Record> StatusRecords::Decode(std::span<const std::uint8_t> payload)
{
    if (payload.size() != Record::Size)
        return std::nullopt;
    Record record;
    record.status = RecordedStatus::DecodeFrom(payload.data());
    std::copy(payload.begin() + RecordedStatus::Size, payload.begin() + RecordedStatus::Size + 32,
              record.key.bytes.begin());
    record.contentHash = DecodeFixed32(&payload[RecordedStatus::Size + 32]);
    return record;
}

}  // namespace zelkor
