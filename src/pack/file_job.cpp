#include "pack/file_job.h"

#include <algorithm>
#include <cstring>
#include <new>

#include <lz4.h>

#include "archive/archive_format.h"
#include "archive/content_hasher.h"
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

// Whether `status` is of a file that the load must not read: an output.
bool Excluded(const FileJob::Options& options, const FileStatus& status)
{
    return std::any_of(options.excluded.begin(), options.excluded.end(),
                       [&](const FileStatus& output) { return status.SameFileAs(output); });
}

// A loaded file's stored bytes encrypted with `key`, unless they are already
// or are streamed (encrypted as they are written).
std::optional<LoadedFile> Encrypted(std::optional<LoadedFile> loaded, const ArchiveKey* key)
{
    if (loaded && key && !loaded->encrypted && !loaded->stream) {
        key->Encrypt(loaded->stored);
        loaded->encrypted = true;
    }
    return loaded;
}

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
    StatusRecords* records = cache_ && cache_->Usable() ? cache_->Sources() : nullptr;
    const std::optional<std::string> name =
        records && options.level == CompressionLevel ? StatusRecords::NameOf(path) : std::nullopt;
    const bool trusting = name && !options.storeRaw && records->Trusting();
    const bool copying = name && options.previous && options.key && records->Trusting();
    std::optional<LoadedFile> loaded;
    // A source that the last build holds unchanged, or a trusted source whose
    // block the cache holds, is not even opened. Only a block that was used
    // makes the record count: without it, the file read instead may be another.
    if (trusting || copying) {
        const std::optional<FileStatus> status = StatusOf(path);
        if (status && status->IsRegular() && !Excluded(options, *status)) {
            const bool streamed = options.storeRaw && status->size >= StreamFrom;
            if (copying && !streamed) {
                if (const PreviousBuild::Entry* entry = options.previous->Find(*name, *status, options.storeRaw))
                    loaded = LoadCopied(*options.previous, *entry, *status);
            }
            if (!loaded && trusting) {
                if (const std::optional<StatusRecords::Record> record = records->Trusted(*name, *status)) {
                    loaded = LoadTrusted(*record);
                    if (loaded) {
                        records->Used(*name);
                        loaded->settled = LoadedFile::Settled{*status, record->proven};
                    }
                }
            }
        }
    }
    if (!loaded)
        return LoadOpened(path, options, records, name);
    return Encrypted(std::move(loaded), options.key);
}

std::optional<LoadedFile> FileJob::LoadOpened(const std::string& path, const Options& options, StatusRecords* records,
                                              const std::optional<std::string>& name)
{
    FileStatus status;
    // The two-second rule counts back from here: a change after this moment
    // may be in what is read.
    const std::int64_t opened = WallClockNanoseconds();
    File source = File::OpenRegular(path, OpenFlags::Read, &status);
    if (!source.IsOpen() || Excluded(options, status)) {
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
    std::optional<LoadedFile> loaded = LoadFrom(source, status.size);
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
    return Encrypted(std::move(loaded), options.key);
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

std::optional<LoadedFile> FileJob::LoadCopied(const PreviousBuild& previous, const PreviousBuild::Entry& entry,
                                              const FileStatus& status)
{
    const std::size_t size = PreviousBuild::RangeSize(entry);
    try {
        Fit(storedBytes, size, false);
    } catch (const std::bad_alloc&) {
        return std::nullopt;
    }
    writtenEnd_ = std::max(writtenEnd_, size);
    const std::span<std::uint8_t> range(storedBytes.data(), size);
    if (!previous.Read(entry, range))
        return std::nullopt;
    LoadedFile loaded;
    loaded.stored = range.subspan(FileEntry::Size);
    loaded.rawSize = entry.entry.rawSize;
    loaded.contentHash = entry.entry.contentHash;
    loaded.encrypted = true;
    loaded.storedDigest = entry.stored;
    // The bytes stand for the status they were read at, which is the one now,
    // as proven then.
    loaded.settled = LoadedFile::Settled{status, entry.proven};
    cache_->Copied();
    return loaded;
}

std::optional<LoadedFile> FileJob::LoadTrusted(const StatusRecords::Record& record)
{
    const std::uint64_t size = record.status.size;
    if (size == 0 || size >= ArchiveAddressLimit)
        return std::nullopt;
    const auto output = [this](std::size_t needed) { return StoredRoom(needed); };
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

std::span<std::uint8_t> FileJob::StoredRoom(std::size_t needed)
{
    Fit(storedBytes, needed, false);
    writtenEnd_ = std::max(writtenEnd_, needed);
    return std::span(storedBytes.data(), needed);
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
