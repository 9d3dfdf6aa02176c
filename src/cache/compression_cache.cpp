#include "cache/compression_cache.h"

#include <cstring>
#include <optional>

// The hash state lives on the stack.
#define XXH_STATIC_LINKING_ONLY
#include <xxhash.h>

#include "archive/archive_format.h"
#include "archive/lz4_block_reader.h"
#include "cache/cache_entry.h"
#include "cache/local_store.h"
#include "platform/warning_log.h"

namespace zelkor {

namespace {

constexpr std::size_t BlockAlignment = 64;

// The key and content hash of the raw bytes that `block` decodes to, if it
// decodes to bytes of `rawSize` at all.
std::optional<CacheKey> KeyOfBlock(std::span<const std::uint8_t> block, std::uint64_t rawSize,
                                   Lz4BlockReader& reader, std::uint32_t& contentHash)
{
    CacheKey::Hasher hasher;
    XXH32_state_t xxh;
    XXH32_reset(&xxh, ContentHashSeed);
    const bool decoded = reader.Decode(block, rawSize, [&](std::span<const std::uint8_t> piece) {
        hasher.Update(piece);
        XXH32_update(&xxh, piece.data(), piece.size());
        return true;
    });
    if (!decoded)
        return std::nullopt;
    contentHash = XXH32_digest(&xxh);
    return hasher.Finish();
}

}  // namespace

CompressionCache::CompressionCache(std::unique_ptr<CacheStore> store, WarningLog& warnings)
    : store_(std::move(store)), warnings_(warnings)
{
}

CompressionCache::~CompressionCache() = default;

std::unique_ptr<CompressionCache> CompressionCache::Open(const CacheSettings& settings, WarningLog& warnings)
{
    if (!settings.Enabled())
        return nullptr;
    std::unique_ptr<LocalStore> store = LocalStore::Open(settings);
    if (!store) {
        warnings.Warn(LocalStore::UnusableMessage(settings.directory));
        return nullptr;
    }
    return std::make_unique<CompressionCache>(std::move(store), warnings);
}

bool CompressionCache::Get(const CacheKey& key, std::uint64_t rawSize, const CacheStore::Buffer& buffer,
                           std::span<std::uint8_t>& block)
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
    const CacheStore::Got got = store_->Get(key, CacheEntry::MaxSize(rawSize), aligned);
    switch (got.kind) {
    case CacheStore::Got::Kind::Missing:
        ++misses_;
        return false;
    case CacheStore::Got::Kind::Failed:
        Disable();
        return false;
    case CacheStore::Got::Kind::TooLarge:
        Damaged(key);
        return false;
    case CacheStore::Got::Kind::Found:
        break;
    }
    std::span<const std::uint8_t> found;
    if (CacheEntry::Decode(got.entry, key, rawSize, found) != CacheEntry::Status::Ok) {
        Damaged(key);
        return false;
    }
    block = got.entry.subspan(CacheEntry::HeaderSize, found.size());
    return true;
}

CompressionCache::Outcome CompressionCache::Hand(std::uint64_t rawSize, std::span<std::uint8_t> block, Hit& hit)
{
    ++hits_;
    savedBytes_ += rawSize;
    hit.compressed = !block.empty();
    hit.block = block;
    return Outcome::Hit;
}

CompressionCache::Outcome CompressionCache::Find(const CacheKey& key, std::span<const std::uint8_t> raw,
                                                 const CacheStore::Buffer& buffer, Lz4BlockReader& reader, Hit& hit,
                                                 std::uint32_t* contentHash)
{
    std::span<std::uint8_t> block;
    if (!Get(key, raw.size(), buffer, block))
        return Outcome::Miss;
    if (block.empty())
        return Hand(raw.size(), block, hit);
    std::size_t at = 0;
    XXH32_state_t xxh;
    XXH32_reset(&xxh, ContentHashSeed);
    const bool same = reader.Decode(block, raw.size(), [&](std::span<const std::uint8_t> piece) {
        if (std::memcmp(piece.data(), raw.data() + at, piece.size()) != 0)
            return false;
        at += piece.size();
        if (contentHash)
            XXH32_update(&xxh, piece.data(), piece.size());
        return true;
    });
    if (same) {
        if (contentHash)
            *contentHash = XXH32_digest(&xxh);
        return Hand(raw.size(), block, hit);
    }
    // Either the entry is not what its key says, or `raw` changed after its key
    // was taken (a source rewritten while it was mapped): the block tells which.
    std::uint32_t decodedHash = 0;
    if (KeyOfBlock(block, raw.size(), reader, decodedHash) == key)
        return Outcome::SourceChanged;
    Damaged(key);
    return Outcome::Miss;
}

CompressionCache::Outcome CompressionCache::FindUnread(const CacheKey& key, std::uint64_t rawSize,
                                                       const CacheStore::Buffer& buffer, Lz4BlockReader& reader,
                                                       Hit& hit, std::uint32_t& contentHash)
{
    std::span<std::uint8_t> block;
    if (!Get(key, rawSize, buffer, block))
        return Outcome::Miss;
    if (block.empty())
        return Hand(rawSize, block, hit);
    std::uint32_t decodedHash = 0;
    if (KeyOfBlock(block, rawSize, reader, decodedHash) != key) {
        Damaged(key);
        return Outcome::Miss;
    }
    contentHash = decodedHash;
    return Hand(rawSize, block, hit);
}

void CompressionCache::Store(const CacheKey& key, std::uint64_t rawSize, std::span<const std::uint8_t> block)
{
    if (disabled_.load())
        return;
    const CacheEntry::Header header = CacheEntry::Encode(key, rawSize, block);
    if (!store_->Put(key, header, block))
        Disable();
}

void CompressionCache::Flush()
{
    if (disabled_.load())
        return;
    if (!store_->Flush(Counted()))
        Disable();
    hits_ = misses_ = savedBytes_ = damaged_ = 0;
}

CacheCounters CompressionCache::Counted() const
{
    CacheCounters counters;
    counters.hits = hits_.load();
    counters.misses = misses_.load();
    counters.savedBytes = savedBytes_.load();
    counters.damaged = damaged_.load();
    return counters;
}

void CompressionCache::Damaged(const CacheKey& key)
{
    store_->Remove(key);
    ++damaged_;
    ++misses_;
    std::call_once(damagedWarned_, [&] { warnings_.Warn(store_->DamagedMessage(key)); });
}

void CompressionCache::Disable()
{
    disabled_.store(true);
    std::call_once(disabledWarned_, [&] { warnings_.Warn(store_->UnusableMessage()); });
}

}  // namespace zelkor
