#include "pack/file_job.h"

#include <algorithm>
#include <cstring>
#include <new>

#include <lz4.h>
// The hash states live on the stack.
#define XXH_STATIC_LINKING_ONLY
#include <xxhash.h>

#include "archive/archive_format.h"
#include "platform/file_system.h"
#include "platform/mapped_file.h"
#include "platform/wall_clock.h"

namespace zelkor {

namespace {

// Room beyond the expected length, so that the read that finds the end of the
// file needs no second buffer; and the step by which a buffer grows at least.
constexpr std::size_t ReadSlack = 64 * 1024;

// Files from this size on are hashed and compressed straight from a read-only
// mapping, which saves copying them; smaller ones are read into the job's
// buffer, whose pages are warm.
constexpr std::uint64_t MapFrom = 256 * 1024;

// Sources smaller than this are neither looked up in the cache nor kept there:
// compressing one costs less than creating its entry, or reading it back.
constexpr std::size_t CachedFrom = 1024;

// Buffers up to this size stay with the job when it is handed back: what files
// of up to FileJobCapacity bytes need, with room for growth steps.
constexpr std::size_t KeptCapacity = FileJobCapacity + FileJobCapacity / 16;

// A buffer of at least `size` bytes; the content is kept when `keep` is set.
void Fit(ByteBuffer& buffer, std::size_t size, bool keep)
{
    if (buffer.size() >= size)
        return;
    const std::size_t grown = std::max(size, buffer.size() + buffer.size() / 2);
    if (keep)
        buffer.Resize(grown);
    else
        buffer.Reallocate(grown);
}

// The content hash of bytes that go by piece by piece.
class PieceHash {
public:
    PieceHash() { XXH32_reset(&xxh_, ContentHashSeed); }

    void Update(std::span<const std::uint8_t> piece) { XXH32_update(&xxh_, piece.data(), piece.size()); }
    std::uint32_t ContentHash() { return XXH32_digest(&xxh_); }

private:
    XXH32_state_t xxh_;
};

}  // namespace

FileJob::FileJob(CompressionCache* cache) : cache_(cache)
{
}

std::uint64_t FileJob::MemoryNeeded(std::uint64_t size, bool storeRaw)
{
    if (size >= ArchiveAddressLimit)
        return 0;
    if (storeRaw)
        return size >= StreamFrom ? StreamedSource::Piece : 2 * size + ReadSlack;
    const bool compressible = size <= static_cast<std::uint64_t>(LZ4_MAX_INPUT_SIZE);
    return size + ReadSlack + (compressible ? static_cast<std::uint64_t>(LZ4_compressBound(static_cast<int>(size))) : 0);
}

std::optional<LoadedFile> FileJob::Load(const std::string& path, const Options& options)
{
    streamed_.reset();
    const auto excluded = [&](const FileStatus& status) {
        return std::any_of(options.excluded.begin(), options.excluded.end(),
                           [&](const FileStatus& output) { return status.SameFileAs(output); });
    };
    StatusRecords* records = cache_ && cache_->Usable() ? cache_->Sources() : nullptr;
    const std::optional<std::string> name =
        records && options.level == CompressionLevel ? StatusRecords::NameOf(path) : std::nullopt;
    const bool trusting = name && !options.storeRaw && records->Trusting();
    std::optional<LoadedFile> loaded;
    // A trusted source whose block the cache holds is not even opened. Only a
    // block that was used makes the record count: without it, the file read
    // instead may be another.
    if (trusting) {
        const std::optional<FileStatus> status = StatusOf(path);
        if (status && status->IsRegular() && !excluded(*status)) {
            if (const std::optional<StatusRecords::Record> record = records->Trusted(*name, *status)) {
                loaded = LoadTrusted(*record);
                if (loaded) {
                    records->Used(*name);
                    loaded->settled = LoadedFile::Settled{*status, record->proven};
                }
            }
        }
    }
    if (!loaded) {
        FileStatus status;
        // The two-second rule counts back from here: a change after this moment
        // may be in what is read.
        const std::int64_t opened = WallClockNanoseconds();
        File source = File::OpenRegular(path, OpenFlags::Read, &status);
        if (!source.IsOpen() || excluded(status)) {
            rawKnown_.reset();
            return std::nullopt;
        }
        // Trusted as stored raw, but only for the file now open if it is the same.
        if (rawKnown_ && rawKnown_->status != RecordedStatus::Of(status))
            rawKnown_.reset();
        if (options.storeRaw && status.size >= StreamFrom && status.size < ArchiveAddressLimit)
            return LoadStreamed(std::move(source), status, opened, records, name);
        encryptWith_ = options.key;
        storeRaw_ = options.storeRaw;
        level_ = options.level;
        key_.reset();
        loaded = LoadFrom(source, status.size);
        encryptWith_ = nullptr;
        storeRaw_ = false;
        level_ = CompressionLevel;
        rawKnown_.reset();
        // Recorded only when a second look shows nothing moved while it was read.
        if (loaded && name) {
            if (const std::optional<FileStatus> after = source.Status()) {
                const std::optional<std::int64_t> proven = records->Read(
                    *name, status, *after, opened, loaded->rawSize, key_ ? &*key_ : nullptr, loaded->contentHash);
                if (proven)
                    loaded->settled = LoadedFile::Settled{status, *proven};
            }
        }
    }
    if (loaded && options.key && !loaded->encrypted && !loaded->stream) {
        options.key->Encrypt(loaded->stored);
        loaded->encrypted = true;
    }
    return loaded;
}

std::optional<LoadedFile> FileJob::LoadStreamed(File source, const FileStatus& status, std::int64_t opened,
                                                StatusRecords* records, const std::optional<std::string>& name)
{
    rawKnown_.reset();
    StreamedSource& streamed = streamed_.emplace(std::move(source));
    LoadedFile loaded;
    if (!streamed.Measure(loaded.rawSize, loaded.contentHash)) {
        streamed_.reset();
        return std::nullopt;
    }
    if (loaded.rawSize < ArchiveAddressLimit)
        loaded.stream = &streamed;
    if (name) {
        if (const std::optional<FileStatus> after = streamed.Source().Status()) {
            if (const std::optional<std::int64_t> proven =
                    records->Read(*name, status, *after, opened, loaded.rawSize, nullptr, loaded.contentHash))
                loaded.settled = LoadedFile::Settled{status, *proven};
        }
    }
    return loaded;
}

std::optional<LoadedFile> FileJob::LoadTrusted(const StatusRecords::Record& record)
{
    const std::uint64_t size = record.status.size;
    if (size == 0 || size >= ArchiveAddressLimit)
        return std::nullopt;
    const auto output = [&](std::size_t needed) {
        Fit(storedBytes, needed, false);
        writtenEnd_ = std::max(writtenEnd_, needed);
        return std::span(storedBytes.data(), needed);
    };
    CompressionCache::Hit hit;
    LoadedFile loaded;
    loaded.rawSize = size;
    // The block is proven to hold the bytes of the recorded key, whose content
    // hash the same record gives.
    loaded.contentHash = record.contentHash;
    if (cache_->FindUnread(record.key, size, output, reader_, hit, nullptr) != CompressionCache::Outcome::Hit)
        return std::nullopt;
    if (!hit.compressed) {
        rawKnown_ = record;
        return std::nullopt;
    }
    loaded.stored = hit.block;
    return loaded;
}

std::optional<LoadedFile> FileJob::LoadFrom(File& source, std::uint64_t length)
{
    // A file the archive cannot describe is not read further: only its size counts.
    const auto tooLarge = [](std::uint64_t size) {
        LoadedFile file;
        file.rawSize = size;
        return file;
    };
    if (length >= ArchiveAddressLimit)
        return tooLarge(length);
    try {
        for (int attempt = 0; length >= MapFrom && length <= static_cast<std::uint64_t>(LZ4_MAX_INPUT_SIZE);
             ++attempt) {
            bool changed = false;
            std::optional<LoadedFile> loaded = LoadMapped(source, length, changed);
            if (loaded)
                return loaded;
            if (!changed)
                break;
            // Rewritten while it was read: once more, as it is now; a file that
            // keeps changing is left out rather than stored half old, half new.
            const std::optional<FileStatus> status = source.Status();
            if (attempt == 1 || !status)
                return std::nullopt;
            length = status->size;
            if (length >= ArchiveAddressLimit)
                return tooLarge(length);
        }
        const std::optional<std::uint64_t> read = ReadToEnd(source, length);
        if (!read)
            return std::nullopt;
        if (*read >= ArchiveAddressLimit)
            return tooLarge(*read);
        return Encode(std::span(rawBytes.data(), static_cast<std::size_t>(*read)), true);
    } catch (const std::bad_alloc&) {
        // A file too large for the memory at hand is left out like an unreadable
        // one; the buffers stay usable for the next.
        return std::nullopt;
    }
}

std::optional<LoadedFile> FileJob::LoadMapped(File& source, std::uint64_t length, bool& changed)
{
    std::optional<MappedFile> mapped = MappedFile::Map(source, static_cast<std::size_t>(length));
    if (!mapped)
        return std::nullopt;
    std::optional<LoadedFile> loaded;
    {
        MappedFile::Reading reading(*mapped);
        loaded = Encode(mapped->Bytes(), false);
    }
    // What was mapped is the whole file unless it shrank meanwhile (some pages
    // were lost) or grew; then it is read the ordinary way.
    std::uint8_t beyond;
    if (mapped->Damaged() || source.ReadAt(length, &beyond, 1) != std::optional<std::size_t>(0))
        return std::nullopt;
    changed = !loaded;
    return loaded;
}

std::optional<LoadedFile> FileJob::Encode(std::span<const std::uint8_t> raw, bool rawIsOurs)
{
    const std::size_t size = raw.size();
    // Output room for LZ4's worst case, so that the block is the one an unbounded
    // compression gives; none where LZ4 cannot take the file.
    const auto output = [&](std::size_t needed) {
        Fit(storedBytes, needed, false);
        writtenEnd_ = std::max(writtenEnd_, needed);
        return std::span(storedBytes.data(), needed);
    };
    // The codec hands back the raw bytes themselves when they are stored raw;
    // Own copies them first unless they are the job's.
    const std::span<std::uint8_t> input(const_cast<std::uint8_t*>(raw.data()), size);
    LoadedFile loaded;
    loaded.rawSize = size;
    if (storeRaw_) {
        loaded.contentHash = EntryCodec::ContentHash(raw);
        loaded.stored = input;
        if (!rawIsOurs && betweenPasses_)
            betweenPasses_();
        return Own(loaded, raw, rawIsOurs, true);
    }
    // A trusted source that the cache stores raw: its record gives key and hash,
    // and the bytes read only have to show the same content hash.
    if (rawKnown_ && rawKnown_->status.size == size) {
        loaded.contentHash = rawKnown_->contentHash;
        loaded.stored = input;
        std::optional<LoadedFile> owned;
        if (rawIsOurs)
            owned = EntryCodec::ContentHash(raw) == loaded.contentHash ? std::optional(loaded) : std::nullopt;
        else
            owned = Own(loaded, raw, false, true);
        if (owned) {
            key_ = rawKnown_->key;
            return owned;
        }
        // Not the recorded bytes after all: hashed and looked up in full.
        rawKnown_.reset();
    }
    // The first pass takes both hashes at once. A mapping can change under us,
    // so what is stored from it (a block's decoded bytes, or a copy) is hashed
    // as it is checked and matched against the content hash the first pass
    // saw: a change between the passes is an accident that xxHash finds, and a
    // block is proven against its key again wherever the cache hands it out,
    // so a second SHA-256 of the source would buy nothing.
    const bool cached = cache_ && cache_->Usable() && size >= CachedFrom;
    std::uint32_t contentHash = 0;
    CacheKey key;
    if (cached)
        key = CacheKey::Of(raw, contentHash, level_);
    else
        contentHash = EntryCodec::ContentHash(raw);
    if (!rawIsOurs && betweenPasses_)
        betweenPasses_();

    loaded.contentHash = contentHash;
    if (cached)
        key_ = key;
    if (cached) {
        CompressionCache::Hit hit;
        switch (cache_->Find(key, raw, output, reader_, hit, rawIsOurs ? nullptr : &loaded.contentHash, level_)) {
        case CompressionCache::Outcome::Hit:
            if (hit.compressed) {
                loaded.stored = hit.block;
                return loaded;
            }
            loaded.stored = input;
            return Own(loaded, raw, rawIsOurs, false);
        case CompressionCache::Outcome::SourceChanged:
            return std::nullopt;
        case CompressionCache::Outcome::Miss:
            break;
        }
    }
    const bool compressible = size > 0 && size <= static_cast<std::size_t>(LZ4_MAX_INPUT_SIZE);
    const std::size_t bound = compressible ? static_cast<std::size_t>(LZ4_compressBound(static_cast<int>(size))) : 0;
    loaded = codec_.Encode(input, bound > 0 ? output(bound) : std::span<std::uint8_t>(), contentHash, level_);
    writtenEnd_ = std::max(writtenEnd_, codec_.OutputTouched());
    // From a mapping, a block is proven to hold the bytes first seen before it is
    // used or cached.
    if (!rawIsOurs && loaded.IsCompressed()) {
        PieceHash hashes;
        const bool decoded = reader_.Decode(loaded.stored, size, [&](std::span<const std::uint8_t> piece) {
            hashes.Update(piece);
            return true;
        });
        if (!decoded || hashes.ContentHash() != contentHash)
            return std::nullopt;
    }
    std::optional<LoadedFile> owned = Own(loaded, raw, rawIsOurs, true);
    if (owned && cached)
        cache_->Store(key, size, loaded.IsCompressed() ? loaded.stored : std::span<std::uint8_t>());
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
    Fit(storedBytes, size, false);
    writtenEnd_ = std::max(writtenEnd_, size);
    const std::span<std::uint8_t> copy(storedBytes.data(), size);
    constexpr std::size_t Piece = 256 * 1024;
    PieceHash hashes;
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
    const std::uint32_t copied = hashes.ContentHash();
    if (sameHash && copied != loaded.contentHash)
        return std::nullopt;
    loaded.contentHash = copied;
    loaded.encrypted = cipher.has_value();
    loaded.stored = copy;
    return loaded;
}

std::optional<std::uint64_t> FileJob::ReadToEnd(File& source, std::uint64_t length)
{
    Fit(rawBytes, static_cast<std::size_t>(length) + ReadSlack, false);
    std::size_t total = 0;
    for (;;) {
        const std::optional<std::size_t> got = source.ReadUpTo(rawBytes.data() + total, rawBytes.size() - total);
        if (!got)
            return std::nullopt;
        total += *got;
        writtenEnd_ = std::max(writtenEnd_, total);
        // A short read is the end of the file.
        if (total < rawBytes.size() || total >= ArchiveAddressLimit)
            return total;
        Fit(rawBytes, total + std::max(ReadSlack, total / 2), true);
    }
}

void FileJob::ReleaseMemory(std::size_t keep)
{
    streamed_.reset();
    for (ByteBuffer* buffer : {&rawBytes, &storedBytes}) {
        if (buffer->size() > KeptCapacity)
            buffer->Reallocate(0);
        else if (writtenEnd_ > keep)
            buffer->Discard(keep, writtenEnd_);
    }
    writtenEnd_ = std::min(writtenEnd_, keep);
}

}  // namespace zelkor
