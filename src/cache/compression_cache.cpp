#include "cache/compression_cache.h"

#include <algorithm>
#include <cstring>
#include <optional>

#include "archive/archive_format.h"
#include "archive/content_hasher.h"
#include "archive/lz4_block_reader.h"
#include "cache/layered_store.h"
#include "cache/local_store.h"
#include "platform/wall_clock.h"
#include "remote/remote_store.h"
#include "remote/remote_url.h"
#include "store/cache_entry.h"

namespace zelkor {

namespace {

constexpr std::size_t BlockAlignment = 64;

// The key, and with `contentHash` the content hash, of the raw bytes that
// `block` decodes to, if it decodes to bytes of `rawSize` at all.
std::optional<CacheKey> KeyOfBlock(std::span<const std::uint8_t> block, std::uint64_t rawSize,
                                   Lz4BlockReader& reader, std::uint32_t* contentHash, int level = CompressionLevel)
{
    CacheKey::Hasher hasher(level);
    ContentHasher content;
    const bool decoded = reader.Decode(block, rawSize, [&](std::span<const std::uint8_t> piece) {
        hasher.Update(piece);
        if (contentHash)
            content.Update(piece);
        return true;
    });
    if (!decoded)
        return std::nullopt;
    if (contentHash)
        *contentHash = content.Digest();
    return hasher.Finish();
}

}  // namespace

CompressionCache::CompressionCache(std::unique_ptr<CacheStore> store, CacheProblemSink& problems)
    : store_(std::move(store)), problems_(problems)
{
}

CompressionCache::~CompressionCache() = default;

std::unique_ptr<CompressionCache> CompressionCache::Open(const CacheSettings& settings, CacheProblemSink& problems)
{
    std::unique_ptr<LocalStore> local;
    if (settings.Enabled()) {
        local = LocalStore::Open(settings);
        if (!local)
            problems.Report(CacheProblem::Unusable(CacheProblem::Store::Local, settings.directory));
    }
    std::unique_ptr<RemoteStore> remote;
    if (settings.RemoteEnabled()) {
        const std::optional<RemoteUrl> url = RemoteUrl::Parse(settings.remote);
        if (url)
            remote = RemoteStore::Open(*url, {settings.remoteTimeout, settings.remoteToken});
        if (!remote)
            problems.Report(CacheProblem::Unusable(CacheProblem::Store::Remote,
                                                    url ? url->Shown() : RemoteUrl::ShownOf(settings.remote)));
    }
    // The store owns the local directory, which the records are kept in too.
    const Directory* root = local ? &local->Root() : nullptr;
    std::unique_ptr<CompressionCache> cache;
    if (remote)
        cache = std::make_unique<CompressionCache>(
            std::make_unique<LayeredStore>(std::move(local), std::move(remote), settings.remoteReadOnly, problems),
            problems);
    else if (local)
        cache = std::make_unique<CompressionCache>(std::move(local), problems);
    if (cache && root)
        cache->KeepRecords(*root, settings);
    return cache;
}

bool CompressionCache::Get(const CacheKey& key, std::uint64_t rawSize, const CacheStore::Buffer& buffer,
                           CacheStore::Got& got, std::span<std::uint8_t>& block)
{
    if (disabled_.load())
        return false;
    // The entry goes where its block starts on a cache line, which the cipher
    // that encrypts the block in place later runs fastest on.
    const CacheStore::Buffer aligned = [&](std::size_t size) {
        const std::span<std::uint8_t> room = buffer(size + BlockAlignment);
        const auto blockAt = reinterpret_cast<std::uintptr_t>(room.data()) + CacheEntry::HeaderSize;
        return room.subspan((BlockAlignment - blockAt % BlockAlignment) % BlockAlignment, size);
    };
    got = store_->Get(key, CacheEntry::MaxSize(rawSize), aligned);
    switch (got.kind) {
    case CacheStore::Got::Kind::Missing:
        ++misses_;
        return false;
    case CacheStore::Got::Kind::Failed:
        Disable();
        return false;
    case CacheStore::Got::Kind::TooLarge:
        Damaged(key, got);
        return false;
    case CacheStore::Got::Kind::Found:
        break;
    }
    std::span<const std::uint8_t> found;
    if (CacheEntry::Decode(got.entry, key, rawSize, found) != CacheEntry::Status::Ok) {
        Damaged(key, got);
        return false;
    }
    block = got.entry.subspan(CacheEntry::HeaderSize, found.size());
    return true;
}

CompressionCache::Outcome CompressionCache::Hand(const CacheKey& key, const CacheStore::Got& got,
                                                 std::uint64_t rawSize, std::span<std::uint8_t> block, Hit& hit)
{
    store_->Checked(key, got);
    ++hits_;
    savedBytes_ += rawSize;
    hit.compressed = !block.empty();
    hit.block = block;
    return Outcome::Hit;
}

CompressionCache::Outcome CompressionCache::Find(const CacheKey& key, std::span<const std::uint8_t> raw,
                                                 const CacheStore::Buffer& buffer, Lz4BlockReader& reader, Hit& hit,
                                                 std::uint32_t* contentHash, int level)
{
    CacheStore::Got got;
    std::span<std::uint8_t> block;
    if (!Get(key, raw.size(), buffer, got, block))
        return Outcome::Miss;
    if (block.empty())
        return Hand(key, got, raw.size(), block, hit);
    std::size_t at = 0;
    ContentHasher content;
    const bool same = reader.Decode(block, raw.size(), [&](std::span<const std::uint8_t> piece) {
        if (std::memcmp(piece.data(), raw.data() + at, piece.size()) != 0)
            return false;
        at += piece.size();
        if (contentHash)
            content.Update(piece);
        return true;
    });
    if (same) {
        if (contentHash)
            *contentHash = content.Digest();
        return Hand(key, got, raw.size(), block, hit);
    }
    // Either the entry is not what its key says, or `raw` changed after its key
    // was taken (a source rewritten while it was mapped): the block tells which.
    if (KeyOfBlock(block, raw.size(), reader, nullptr, level) == key)
        return Outcome::SourceChanged;
    Damaged(key, got);
    return Outcome::Miss;
}

CompressionCache::Outcome CompressionCache::FindUnread(const CacheKey& key, std::uint64_t rawSize,
                                                       const CacheStore::Buffer& buffer, Lz4BlockReader& reader,
                                                       Hit& hit, std::uint32_t* contentHash)
{
    CacheStore::Got got;
    std::span<std::uint8_t> block;
    if (!Get(key, rawSize, buffer, got, block))
        return Outcome::Miss;
    if (block.empty())
        return Hand(key, got, rawSize, block, hit);
    std::uint32_t decodedHash = 0;
    if (KeyOfBlock(block, rawSize, reader, contentHash ? &decodedHash : nullptr) != key) {
        Damaged(key, got);
        return Outcome::Miss;
    }
    if (contentHash)
        *contentHash = decodedHash;
    return Hand(key, got, rawSize, block, hit);
}

void CompressionCache::Store(const CacheKey& key, std::uint64_t rawSize, std::span<const std::uint8_t> block)
{
    if (disabled_.load())
        return;
    const CacheEntry::Header header = CacheEntry::Encode(key, rawSize, block);
    if (!store_->Put(key, header, block))
        Disable();
}

void CompressionCache::KeepRecords(const Directory& root, const CacheSettings& settings, std::int64_t settle)
{
    const std::int64_t now = WallClockNanoseconds();
    const std::size_t limit = RecordTable::LimitFor(settings.capacity);
    const std::int64_t trustFor = std::chrono::duration_cast<std::chrono::nanoseconds>(settings.trust).count();
    sources_ = std::make_unique<StatusRecords>(root, StatusRecords::Options{limit, settle, !settings.rehash, trustFor},
                                               now);
    builds_ = std::make_unique<BuildRecords>(root, limit, now);
}

void CompressionCache::Flush()
{
    if (disabled_.load())
        return;
    if (!store_->Flush(Counted()))
        Disable();
    hits_ = misses_ = savedBytes_ = damaged_ = copied_ = 0;
    // The records are a help to the next run: one that cannot be written is
    // left out without a word, as the record of a remote cache is.
    if (sources_)
        sources_->Flush();
    if (builds_)
        builds_->Flush();
}

CacheCounters CompressionCache::Counted() const
{
    CacheCounters counters;
    counters.hits = hits_.load();
    counters.misses = misses_.load();
    counters.savedBytes = savedBytes_.load();
    counters.damaged = damaged_.load();
    counters.copied = copied_.load();
    return counters;
}

void CompressionCache::Damaged(const CacheKey& key, const CacheStore::Got& got)
{
    CacheStore& origin = got.from ? *got.from : *store_;
    origin.Remove(key);
    ++damaged_;
    ++misses_;
    const std::lock_guard<std::mutex> lock(damagedWarnedMutex_);
    if (std::find(damagedWarned_.begin(), damagedWarned_.end(), &origin) == damagedWarned_.end()) {
        damagedWarned_.push_back(&origin);
        problems_.Report(origin.Damaged(key));
    }
}

void CompressionCache::Disable()
{
    disabled_.store(true);
    std::call_once(disabledWarned_, [&] {
        if (const std::optional<CacheProblem> problem = store_->Unusable())
            problems_.Report(*problem);
    });
}

}  // namespace zelkor
