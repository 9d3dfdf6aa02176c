#include "records/record_table.h"

#include <algorithm>

#include "platform/little_endian.h"
#include "platform/wall_clock.h"
#include "records/record_file.h"

namespace zelkor {

namespace {

// Before each record: its name's length, its payload's length, its time of use.
constexpr std::size_t RecordHeadSize = 2 + 4 + 8;

std::size_t EncodedSize(const std::string& name, const RecordTable::Record& record)
{
    return RecordHeadSize + name.size() + record.payload.size();
}

// Whether a use at `now` is worth writing down over the last one, `used`: an
// hour later, or when the last lies ahead of now (a clock set back, or a time
// from a crafted file, which is taken from the file as it is).
bool UseDue(std::int64_t now, std::int64_t used)
{
    const std::int64_t since = NanosecondsSince(now, used);
    return since < 0 || since >= RecordTable::UseRecordedEvery;
}

}  // namespace

std::size_t RecordTable::LimitFor(std::uint64_t capacity)
{
    return static_cast<std::size_t>(std::clamp<std::uint64_t>(capacity / 256, 64 * 1024, 16 * 1024 * 1024));
}

RecordTable::RecordTable(const Directory& directory, std::string name, std::uint32_t magic, std::size_t limit,
                         std::int64_t now)
    : directory_(directory), name_(std::move(name)), magic_(magic), limit_(limit), now_(now)
{
    // A file that is damaged or foreign is no help: the run starts without
    // records and writes its own.
    if (const auto body = RecordFile::Read(directory_, name_, magic_, limit_))
        records_ = DecodeBody(*body).value_or(Records());
}

std::optional<std::vector<std::uint8_t>> RecordTable::Find(const std::string& name) const
{
    const std::lock_guard<std::mutex> lock(mutex_);
    const auto found = records_.find(name);
    if (found == records_.end())
        return std::nullopt;
    return found->second.payload;
}

void RecordTable::Put(const std::string& name, std::vector<std::uint8_t> payload)
{
    if (name.size() > LongestName)
        return;
    const std::lock_guard<std::mutex> lock(mutex_);
    Record& record = records_[name];
    if (record.payload == payload && !UseDue(now_, record.used))
        return;
    record.payload = std::move(payload);
    record.used = now_;
    touched_.insert(name);
}

void RecordTable::Use(const std::string& name)
{
    const std::lock_guard<std::mutex> lock(mutex_);
    const auto found = records_.find(name);
    if (found == records_.end() || !UseDue(now_, found->second.used))
        return;
    found->second.used = now_;
    touched_.insert(name);
}

bool RecordTable::Flush()
{
    const std::lock_guard<std::mutex> lock(mutex_);
    if (touched_.empty())
        return true;
    // What other runs wrote meanwhile, with this run's records over it.
    Records merged;
    if (const auto body = RecordFile::Read(directory_, name_, magic_, limit_))
        merged = DecodeBody(*body).value_or(Records());
    for (const std::string& name : touched_)
        merged[name] = records_.at(name);
    Prune(merged);
    const bool written = RecordFile::Write(directory_, name_, magic_, EncodeBody(merged));
    touched_.clear();
    return written;
}

std::size_t RecordTable::Size() const
{
    const std::lock_guard<std::mutex> lock(mutex_);
    return records_.size();
}

void RecordTable::Prune(Records& records) const
{
    std::erase_if(records,
                  [&](const auto& entry) { return NanosecondsSince(now_, entry.second.used) > UnusedFor; });
    std::size_t size = 4;
    for (const auto& [name, record] : records)
        size += EncodedSize(name, record);
    if (size <= limit_)
        return;
    std::vector<std::pair<std::int64_t, const std::string*>> byUse;
    for (const auto& [name, record] : records)
        byUse.emplace_back(record.used, &name);
    // The least recently used first; ties by name, whatever the map's order.
    std::sort(byUse.begin(), byUse.end(),
              [](const auto& a, const auto& b) { return a.first != b.first ? a.first < b.first : *a.second < *b.second; });
    std::vector<std::string> victims;
    for (const auto& [used, name] : byUse) {
        if (size <= limit_)
            break;
        size -= EncodedSize(*name, records.at(*name));
        victims.push_back(*name);
    }
    for (const std::string& victim : victims)
        records.erase(victim);
}

std::vector<std::uint8_t> RecordTable::EncodeBody(const Records& records)
{
    // In the order of names, so that the same records give the same bytes.
    std::vector<const Records::value_type*> sorted;
    std::size_t size = 4;
    for (const auto& entry : records) {
        sorted.push_back(&entry);
        size += EncodedSize(entry.first, entry.second);
    }
    std::sort(sorted.begin(), sorted.end(), [](const auto* a, const auto* b) { return a->first < b->first; });
    std::vector<std::uint8_t> body(size);
    EncodeFixed32(body.data(), static_cast<std::uint32_t>(sorted.size()));
    std::size_t at = 4;
    for (const auto* entry : sorted) {
        const std::string& name = entry->first;
        const Record& record = entry->second;
        EncodeFixed16(&body[at], static_cast<std::uint16_t>(name.size()));
        EncodeFixed32(&body[at + 2], static_cast<std::uint32_t>(record.payload.size()));
        EncodeFixed64(&body[at + 6], static_cast<std::uint64_t>(record.used));
        at += RecordHeadSize;
        std::copy(name.begin(), name.end(), body.begin() + static_cast<std::ptrdiff_t>(at));
        at += name.size();
        std::copy(record.payload.begin(), record.payload.end(), body.begin() + static_cast<std::ptrdiff_t>(at));
        at += record.payload.size();
    }
    return body;
}

std::optional<RecordTable::Records> RecordTable::DecodeBody(std::span<const std::uint8_t> body)
{
    if (body.size() < 4)
        return std::nullopt;
    const std::uint32_t count = DecodeFixed32(body.data());
    Records records;
    std::size_t at = 4;
    for (std::uint32_t i = 0; i < count; ++i) {
        if (body.size() - at < RecordHeadSize)
            return std::nullopt;
        const std::size_t nameSize = DecodeFixed16(&body[at]);
        const std::size_t payloadSize = DecodeFixed32(&body[at + 2]);
        Record record;
        record.used = static_cast<std::int64_t>(DecodeFixed64(&body[at + 6]));
        at += RecordHeadSize;
        if (body.size() - at < nameSize || body.size() - at - nameSize < payloadSize)
            return std::nullopt;
        std::string name(body.begin() + static_cast<std::ptrdiff_t>(at),
                         body.begin() + static_cast<std::ptrdiff_t>(at + nameSize));
        at += nameSize;
        record.payload.assign(body.begin() + static_cast<std::ptrdiff_t>(at),
                              body.begin() + static_cast<std::ptrdiff_t>(at + payloadSize));
        at += payloadSize;
        records[std::move(name)] = std::move(record);
    }
    if (at != body.size())
        return std::nullopt;
    return records;
}

}  // namespace zelkor
