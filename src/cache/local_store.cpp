#include "cache/local_store.h"

#include <algorithm>

#include "platform/little_endian.h"
#include "platform/wall_clock.h"

namespace zelkor {

namespace {

// A bucket's .size: its bytes and its entries, as 64-bit little-endian numbers.
constexpr std::size_t TallySize = 16;

// A use is recorded when the last one lies this far back: fine enough for the
// order of eviction, and it spares the file system an update per hit.
constexpr std::int64_t UseRecordedEvery = std::int64_t{3600} * 1'000'000'000;

}  // namespace

LocalStore::LocalStore(std::unique_ptr<CacheDirectory> directory, Options options)
    : directory_(std::move(directory)), options_(options)
{
}

std::unique_ptr<LocalStore> LocalStore::Open(const std::string& directory, Options options)
{
    std::unique_ptr<CacheDirectory> opened = CacheDirectory::Open(directory, CacheDirectory::Mode::Use);
    if (!opened)
        return nullptr;
    return std::unique_ptr<LocalStore>(new LocalStore(std::move(opened), options));
}

std::unique_ptr<LocalStore> LocalStore::Open(const CacheSettings& settings)
{
    return Open(settings.directory, Options{settings.capacity, DefaultLockWait});
}

CacheStore::Got LocalStore::Get(const CacheKey& key, std::uint64_t maxSize, const Buffer& buffer)
{
    const Directory* bucket = directory_->Bucket(key.Bucket(), false);
    if (!bucket)
        return {};
    FileStatus status;
    File entry = bucket->OpenForReading(key.Hex(), &status);
    if (!entry.IsOpen())
        return {};
    if (status.size > maxSize)
        return {Got::Kind::TooLarge, {}};
    const auto size = static_cast<std::size_t>(status.size);
    const std::span<std::uint8_t> room = buffer(size).first(size);
    // File reads until the end of the file: fewer bytes than the size means the
    // entry was cut short meanwhile, which its checks find. A failed read is a
    // miss this time, not damage.
    const std::optional<std::size_t> got = entry.ReadAt(0, room.data(), size);
    if (!got)
        return {};
    if (NanosecondsSince(WallClockNanoseconds(), status.modifiedNanoseconds) >= UseRecordedEvery)
        entry.Touch();
    return {Got::Kind::Found, room.first(*got)};
}

bool LocalStore::Put(const CacheKey& key, std::span<const std::uint8_t> header, std::span<const std::uint8_t> block)
{
    const unsigned index = key.Bucket();
    const Directory* bucket = directory_->Bucket(index, true);
    if (!bucket)
        return false;
    // Written beside its name and renamed into place: a reader finds the whole
    // entry or none. Two writers of one key write the same bytes, so either wins.
    const std::string name = key.Hex();
    std::string temporary;
    SignalCleanup::Registration cleanup;
    File file = directory_->CreateUnique(*bucket, "." + name + ".zelkor-", temporary, cleanup);
    const bool written = file.IsOpen() && file.WriteAll({header, block}) && file.Close() &&
                         bucket->Rename(temporary, name);
    if (!written) {
        if (!temporary.empty())
            bucket->Remove(temporary);
        return false;
    }
    pendingBytes_[index] += header.size() + block.size();
    pendingEntries_[index] += 1;
    return true;
}

void LocalStore::Remove(const CacheKey& key)
{
    if (const Directory* bucket = directory_->Bucket(key.Bucket(), false))
        bucket->Remove(key.Hex());
}

CacheDirectory::Update LocalStore::Account(unsigned index)
{
    const Directory* bucket = directory_->Bucket(index, false);
    if (!bucket)
        return CacheDirectory::Update::Failed;
    return CacheDirectory::UpdateCounters(
        *bucket, CacheDirectory::SizeName, TallySize, options_.lockWait, [&](std::span<std::uint8_t> tally) {
            std::uint64_t bytes = DecodeFixed64(&tally[0]) + pendingBytes_[index].exchange(0);
            std::uint64_t entries = DecodeFixed64(&tally[8]) + pendingEntries_[index].exchange(0);
            if (eviction::Due(bytes, options_.capacity)) {
                // Counted afresh from the listing, which also mends a count that
                // runs left short (their counters skipped, or entries removed as
                // damaged).
                if (std::optional<std::vector<eviction::StoredEntry>> listed = CacheDirectory::Entries(*bucket)) {
                    bytes = 0;
                    entries = listed->size();
                    for (const eviction::StoredEntry& entry : *listed)
                        bytes += entry.size;
                    for (const std::string& victim : eviction::Victims(*listed, options_.capacity)) {
                        const auto found = std::find_if(listed->begin(), listed->end(),
                                                        [&](const eviction::StoredEntry& e) { return e.name == victim; });
                        if (bucket->Remove(victim)) {
                            bytes -= found->size;
                            --entries;
                        }
                    }
                }
            }
            EncodeFixed64(&tally[0], bytes);
            EncodeFixed64(&tally[8], entries);
        },
        directory_->Made());
}

bool LocalStore::Flush(const CacheCounters& counters)
{
    // The sizes of the buckets written to, and there the eviction, once per run
    // rather than once per entry. A lock held by someone else past the wait
    // leaves the rest of the run's counters out, rather than wait again.
    for (unsigned index = 0; index < eviction::BucketCount; ++index) {
        if (pendingEntries_[index].load() == 0)
            continue;
        switch (Account(index)) {
        case CacheDirectory::Update::Done: break;
        case CacheDirectory::Update::Busy: return true;
        case CacheDirectory::Update::Failed: return false;
        }
    }
    if (!counters.Any())
        return true;
    const CacheDirectory::Update update = CacheDirectory::UpdateCounters(
        directory_->Root(), CacheDirectory::StatsName, CacheCounters::FileSize, options_.lockWait,
        [&](std::span<std::uint8_t> bytes) {
            CacheCounters total = CacheCounters::Decode(bytes);
            total += counters;
            const auto encoded = total.Encode();
            std::copy(encoded.begin(), encoded.end(), bytes.begin());
        },
        directory_->Made());
    return update != CacheDirectory::Update::Failed;
}

void LocalStore::RecordRemote(const std::string& url, const RemoteCounters& counters)
{
    const Directory& root = directory_->Root();
    const std::vector<std::uint8_t> bytes = counters.Encode(url);
    std::string temporary;
    SignalCleanup::Registration cleanup;
    File file = directory_->CreateUnique(root, std::string(".") + CacheDirectory::RemoteName + ".zelkor-", temporary,
                                         cleanup);
    const bool written = file.IsOpen() && file.WriteAll(bytes.data(), bytes.size()) && file.Close() &&
                         root.Rename(temporary, CacheDirectory::RemoteName);
    if (!written && !temporary.empty())
        root.Remove(temporary);
}

std::optional<CacheProblem> LocalStore::Unusable() const
{
    return CacheProblem::Unusable(CacheProblem::Store::Local, directory_->Path());
}

CacheProblem LocalStore::Damaged(const CacheKey& key) const
{
    return CacheProblem::Damaged(CacheProblem::Store::Local, directory_->Path(), key);
}

std::optional<LocalStore::Statistics> LocalStore::Inspect(const std::string& directory)
{
    std::unique_ptr<CacheDirectory> cache = CacheDirectory::Open(directory, CacheDirectory::Mode::Read);
    if (!cache)
        return std::nullopt;
    Statistics statistics;
    for (unsigned index = 0; index < eviction::BucketCount; ++index) {
        const Directory* bucket = cache->Bucket(index, false);
        if (!bucket)
            continue;
        for (const eviction::StoredEntry& entry : CacheDirectory::Entries(*bucket).value_or(
                 std::vector<eviction::StoredEntry>())) {
            ++statistics.entries;
            statistics.bytes += entry.size;
        }
    }
    statistics.counters = CacheCounters::Decode(
        CacheDirectory::ReadCounters(cache->Root(), CacheDirectory::StatsName, CacheCounters::FileSize));
    if (File record = cache->Root().OpenForReading(CacheDirectory::RemoteName); record.IsOpen()) {
        std::vector<std::uint8_t> bytes(RemoteCounters::NumbersSize + RemoteCounters::LongestUrl);
        if (const std::optional<std::size_t> got = record.ReadAt(0, bytes.data(), bytes.size()))
            statistics.remote = RemoteCounters::Decode(std::span(bytes).first(*got));
    }
    return statistics;
}

LocalStore::Reset LocalStore::Clear(const std::string& directory, bool entries, std::chrono::milliseconds lockWait)
{
    std::unique_ptr<CacheDirectory> cache = CacheDirectory::Open(directory, CacheDirectory::Mode::Manage);
    if (!cache)
        return Reset::NotACache;
    bool ok = true;
    const auto done = [](CacheDirectory::Update update) { return update == CacheDirectory::Update::Done; };
    for (unsigned index = 0; entries && index < eviction::BucketCount; ++index) {
        const Directory* bucket = cache->Bucket(index, false);
        if (!bucket)
            continue;
        // Under the bucket's lock, so that no run's eviction counts meanwhile.
        ok = done(CacheDirectory::UpdateCounters(*bucket, CacheDirectory::SizeName, TallySize, lockWait,
                                                 [&](std::span<std::uint8_t> tally) {
                                                     for (const eviction::StoredEntry& entry :
                                                          CacheDirectory::Entries(*bucket).value_or(
                                                              std::vector<eviction::StoredEntry>()))
                                                         ok = bucket->Remove(entry.name) && ok;
                                                     std::fill(tally.begin(), tally.end(), 0);
                                                 },
                                                 cache->Made())) && ok;
    }
    // The last run's remote counters are counters too; the records of sources
    // and builds go with the entries they point to.
    cache->Root().Remove(CacheDirectory::RemoteName);
    if (entries) {
        cache->Root().Remove(CacheDirectory::SourcesName);
        cache->Root().Remove(CacheDirectory::BuildsName);
    }
    ok = done(CacheDirectory::UpdateCounters(cache->Root(), CacheDirectory::StatsName, CacheCounters::FileSize,
                                             lockWait, [](std::span<std::uint8_t> bytes) {
                                                 std::fill(bytes.begin(), bytes.end(), 0);
                                             }, cache->Made())) && ok;
    return ok ? Reset::Done : Reset::Failed;
}

}  // namespace zelkor
