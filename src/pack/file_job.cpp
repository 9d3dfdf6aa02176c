#include "pack/file_job.h"

#include <algorithm>
#include <new>

#include <lz4.h>

#include "archive/archive_format.h"
#include "platform/mapped_file.h"

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

}  // namespace

FileJob::FileJob(CompressionCache* cache) : cache_(cache)
{
}

std::optional<LoadedFile> FileJob::Load(const std::string& path, const Options& options)
{
    FileStatus status;
    File source = File::OpenRegular(path, OpenFlags::Read, &status);
    if (!source.IsOpen())
        return std::nullopt;
    for (const FileStatus& output : options.excluded) {
        if (status.SameFileAs(output))
            return std::nullopt;
    }
    encryptWith_ = options.key;
    storeRaw_ = options.storeRaw;
    std::optional<LoadedFile> loaded = LoadFrom(source, status.size);
    encryptWith_ = nullptr;
    storeRaw_ = false;
    if (loaded && options.key && !loaded->encrypted) {
        options.key->Encrypt(loaded->stored);
        loaded->encrypted = true;
    }
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
        if (length >= MapFrom && length <= static_cast<std::uint64_t>(LZ4_MAX_INPUT_SIZE)) {
            if (std::optional<MappedFile> mapped = MappedFile::Map(source, static_cast<std::size_t>(length))) {
                std::optional<LoadedFile> loaded;
                {
                    MappedFile::Reading reading(*mapped);
                    loaded = Encode(mapped->Bytes(), false);
                }
                // What was mapped is the whole file unless it shrank meanwhile (some
                // pages were lost) or grew; then it is read the ordinary way.
                std::uint8_t beyond;
                if (!mapped->Damaged() && source.ReadAt(length, &beyond, 1) == std::optional<std::size_t>(0))
                    return loaded;
            }
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

LoadedFile FileJob::Encode(std::span<const std::uint8_t> raw, bool rawIsOurs)
{
    const std::size_t size = raw.size();
    // Output room for LZ4's worst case, so that the block is the one an unbounded
    // compression gives; none where LZ4 cannot take the file.
    const auto output = [&](std::size_t needed) {
        Fit(storedBytes, needed, false);
        return std::span(storedBytes.data(), needed);
    };
    // Stored raw, the bytes must be the job's own: they are encrypted in place.
    // A copy is encrypted on the way when the key is known.
    const auto own = [&](LoadedFile loaded) {
        if (!rawIsOurs && !loaded.IsCompressed() && size > 0) {
            const std::span<std::uint8_t> copy = output(size);
            if (encryptWith_) {
                encryptWith_->Encrypt(raw, copy);
                loaded.encrypted = true;
            } else {
                std::copy(raw.begin(), raw.end(), copy.begin());
            }
            writtenEnd_ = std::max(writtenEnd_, size);
            loaded.stored = copy;
        }
        return loaded;
    };
    // The codec hands back the raw bytes themselves when they are stored raw;
    // `own` copies them first unless they are the job's.
    const std::span<std::uint8_t> input(const_cast<std::uint8_t*>(raw.data()), size);
    if (storeRaw_) {
        LoadedFile loaded;
        loaded.rawSize = size;
        loaded.contentHash = EntryCodec::ContentHash(raw);
        loaded.stored = input;
        return own(loaded);
    }
    const bool compressible = size > 0 && size <= static_cast<std::size_t>(LZ4_MAX_INPUT_SIZE);
    const std::size_t bound = compressible ? static_cast<std::size_t>(LZ4_compressBound(static_cast<int>(size))) : 0;
    if (!cache_ || !cache_->Usable()) {
        LoadedFile loaded = codec_.Encode(input, bound > 0 ? output(bound) : std::span<std::uint8_t>());
        writtenEnd_ = std::max(writtenEnd_, codec_.OutputTouched());
        return own(loaded);
    }

    std::uint32_t contentHash = 0;
    const CompressionCache::Key key = CompressionCache::KeyFor(raw, contentHash);
    const auto cached = [&](std::size_t needed) {
        writtenEnd_ = std::max(writtenEnd_, needed);
        return output(needed);
    };
    if (const auto found = cache_->Find(key, size, cached)) {
        LoadedFile loaded;
        loaded.rawSize = size;
        loaded.contentHash = contentHash;
        loaded.stored = found->compressed ? std::span(storedBytes.data(), found->storedSize) : input;
        return own(loaded);
    }
    LoadedFile loaded = codec_.Encode(input, bound > 0 ? output(bound) : std::span<std::uint8_t>(), contentHash);
    writtenEnd_ = std::max(writtenEnd_, codec_.OutputTouched());
    cache_->Store(key, size, loaded.IsCompressed() ? loaded.stored : std::span<std::uint8_t>());
    return own(loaded);
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
    for (ByteBuffer* buffer : {&rawBytes, &storedBytes}) {
        if (buffer->size() > KeptCapacity)
            buffer->Reallocate(0);
        else if (writtenEnd_ > keep)
            buffer->Discard(keep, writtenEnd_);
    }
    writtenEnd_ = std::min(writtenEnd_, keep);
}

}  // namespace zelkor
