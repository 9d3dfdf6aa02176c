#include "pack/file_job.h"

#include <algorithm>
#include <cstring>

#include <lz4.h>

#include "archive/content_hasher.h"

// How a file job turns raw bytes into their stored form, one step per way:
// stored raw as asked, stored raw as a trusted record says, found in the
// cache, or compressed here.

namespace zelkor {

namespace {

// Sources smaller than this are neither looked up in the cache nor kept there:
// compressing one costs less than creating its entry, or reading it back.
constexpr std::size_t CachedFrom = 1024;

// The codec hands back the raw bytes themselves when they are stored raw; Own
// copies them first unless they are the job's, so nothing is written through
// this view of bytes that are not.
std::span<std::uint8_t> Writable(std::span<const std::uint8_t> raw)
{
    return std::span<std::uint8_t>(const_cast<std::uint8_t*>(raw.data()), raw.size());
}

}  // namespace

std::optional<LoadedFile> FileJob::Encode(std::span<const std::uint8_t> raw, bool rawIsOurs)
{
    LoadedFile loaded;
    loaded.rawSize = raw.size();
    if (storeRaw_)
        return EncodeRaw(raw, rawIsOurs, loaded);
    if (rawKnown_ && rawKnown_->status.size == raw.size()) {
        if (std::optional<LoadedFile> owned = EncodeKnownRaw(raw, rawIsOurs, loaded))
            return owned;
        // Not the recorded bytes after all: hashed and looked up in full.
        rawKnown_.reset();
    }
    // The first pass takes both hashes at once. A mapping can change under us,
    // so what is stored from it (a block's decoded bytes, or a copy) is hashed
    // as it is checked and matched against the content hash the first pass
    // saw: a change between the passes is an accident that xxHash finds, and a
    // block is proven against its key again wherever the cache hands it out,
    // so a second SHA-256 of the source would buy nothing.
    const bool cached = cache_ && cache_->Usable() && raw.size() >= CachedFrom;
    std::uint32_t contentHash = 0;
    CacheKey key;
    if (cached)
        key = CacheKey::Of(raw, contentHash, level_);
    else
        contentHash = ContentHasher::Of(raw);
    if (!rawIsOurs && betweenPasses_)
        betweenPasses_();

    loaded.contentHash = contentHash;
    if (cached) {
        key_ = key;
        bool found = false;
        std::optional<LoadedFile> hit = EncodeFromCache(key, raw, rawIsOurs, loaded, found);
        if (found)
            return hit;
    }
    return Compress(raw, rawIsOurs, loaded, cached ? &key : nullptr);
}

std::optional<LoadedFile> FileJob::EncodeRaw(std::span<const std::uint8_t> raw, bool rawIsOurs, LoadedFile loaded)
{
    loaded.contentHash = ContentHasher::Of(raw);
    loaded.stored = Writable(raw);
    if (!rawIsOurs && betweenPasses_)
        betweenPasses_();
    return Own(loaded, raw, rawIsOurs, true);
}

std::optional<LoadedFile> FileJob::EncodeKnownRaw(std::span<const std::uint8_t> raw, bool rawIsOurs,
                                                  LoadedFile loaded)
{
    // A trusted source that the cache stores raw: its record gives key and hash,
    // and the bytes read only have to show the same content hash.
    loaded.contentHash = rawKnown_->contentHash;
    loaded.stored = Writable(raw);
    std::optional<LoadedFile> owned;
    if (rawIsOurs)
        owned = ContentHasher::Of(raw) == loaded.contentHash ? std::optional(loaded) : std::nullopt;
    else
        owned = Own(loaded, raw, false, true);
    if (owned)
        key_ = rawKnown_->key;
    return owned;
}

std::optional<LoadedFile> FileJob::EncodeFromCache(const CacheKey& key, std::span<const std::uint8_t> raw,
                                                   bool rawIsOurs, LoadedFile loaded, bool& found)
{
    const auto output = [this](std::size_t needed) { return StoredRoom(needed); };
    CompressionCache::Hit hit;
    found = true;
    switch (cache_->Find(key, raw, output, reader_, hit, rawIsOurs ? nullptr : &loaded.contentHash, level_)) {
    case CompressionCache::Outcome::Hit:
        if (hit.compressed) {
            loaded.stored = hit.block;
            return loaded;
        }
        loaded.stored = Writable(raw);
        return Own(loaded, raw, rawIsOurs, false);
    case CompressionCache::Outcome::SourceChanged:
        return std::nullopt;
    case CompressionCache::Outcome::Miss:
        break;
    }
    found = false;
    return std::nullopt;
}

std::optional<LoadedFile> FileJob::Compress(std::span<const std::uint8_t> raw, bool rawIsOurs, LoadedFile loaded,
                                            const CacheKey* key)
{
    const std::size_t size = raw.size();
    const std::uint32_t contentHash = loaded.contentHash;
    // Output room for LZ4's worst case, so that the block is the one an unbounded
    // compression gives; none where LZ4 cannot take the file.
    const bool compressible = size > 0 && size <= static_cast<std::size_t>(LZ4_MAX_INPUT_SIZE);
    const std::size_t bound = compressible ? static_cast<std::size_t>(LZ4_compressBound(static_cast<int>(size))) : 0;
    loaded = codec_.Encode(Writable(raw), bound > 0 ? StoredRoom(bound) : std::span<std::uint8_t>(), contentHash,
                           level_);
    writtenEnd_ = std::max(writtenEnd_, codec_.OutputTouched());
    // From a mapping, a block is proven to hold the bytes first seen before it is
    // used or cached.
    if (!rawIsOurs && loaded.IsCompressed()) {
        ContentHasher hashes;
        const bool decoded = reader_.Decode(loaded.stored, size, [&](std::span<const std::uint8_t> piece) {
            hashes.Update(piece);
            return true;
        });
        if (!decoded || hashes.Digest() != contentHash)
            return std::nullopt;
    }
    std::optional<LoadedFile> owned = Own(loaded, raw, rawIsOurs, true);
    if (owned && key)
        cache_->Store(*key, size, loaded.IsCompressed() ? loaded.stored : std::span<std::uint8_t>());
    return owned;
}

std::optional<LoadedFile> FileJob::Own(LoadedFile loaded, std::span<const std::uint8_t> raw, bool rawIsOurs,
                                       bool sameHash)
{
    const std::size_t size = raw.size();
    if (rawIsOurs || loaded.IsCompressed() || size == 0)
        return loaded;
    // Stored raw, the bytes must be the job's own: they are encrypted in place.
    // The copy is hashed, and encrypted when the key is known, a piece at a time
    // as it is made, while the piece is in the processor's cache; its content
    // hash is the entry's.
    const std::span<std::uint8_t> copy = StoredRoom(size);
    constexpr std::size_t Piece = 256 * 1024;
    ContentHasher hashes;
    std::optional<ArchiveKey::Stream> cipher;
    if (encryptWith_)
        cipher.emplace(*encryptWith_);
    for (std::size_t at = 0; at < size; at += Piece) {
        const std::span<std::uint8_t> piece = copy.subspan(at, std::min(Piece, size - at));
        std::memcpy(piece.data(), raw.data() + at, piece.size());
        hashes.Update(piece);
        if (cipher)
            cipher->Encrypt(piece);
    }
    const std::uint32_t copied = hashes.Digest();
    if (sameHash && copied != loaded.contentHash)
        return std::nullopt;
    loaded.contentHash = copied;
    loaded.encrypted = cipher.has_value();
    loaded.stored = copy;
    return loaded;
}

}  // namespace zelkor
