#include "script/file_job.h"

#include <fcntl.h>

#include <algorithm>
#include <new>

#include <lz4.h>

#include "archive/archive_format.h"

namespace zelkor {

namespace {

// Room beyond the expected length, so that the read that finds the end of the
// file needs no second buffer; and the step by which a buffer grows at least.
constexpr std::size_t ReadSlack = 64 * 1024;

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
    File source = File::OpenRegular(path, O_RDONLY);
    const std::optional<FileStatus> status = source.IsOpen() ? source.Status() : std::nullopt;
    if (!status)
        return std::nullopt;
    for (const FileStatus& output : options.excluded) {
        if (status->SameFileAs(output))
            return std::nullopt;
    }
    std::optional<LoadedFile> loaded = LoadFrom(source, status->size);
    if (loaded && options.key) {
        options.key->Encrypt(loaded->stored);
        loaded->encrypted = true;
    }
    return loaded;
}

std::optional<LoadedFile> FileJob::LoadFrom(File& source, std::uint64_t length)
{
    if (length >= ArchiveAddressLimit) {
        LoadedFile tooLarge;
        tooLarge.rawSize = length;
        return tooLarge;
    }
    try {
        const std::optional<std::uint64_t> read = ReadToEnd(source, length);
        if (!read)
            return std::nullopt;
        if (*read >= ArchiveAddressLimit) {
            LoadedFile tooLarge;
            tooLarge.rawSize = *read;
            return tooLarge;
        }
        return Encode(static_cast<std::size_t>(*read));
    } catch (const std::bad_alloc&) {
        // A file too large for the memory at hand is left out like an unreadable
        // one; the buffers stay usable for the next.
        return std::nullopt;
    }
}

LoadedFile FileJob::Encode(std::size_t size)
{
    const std::span<std::uint8_t> raw(rawBytes.data(), size);
    // Output room for LZ4's worst case, so that the block is the one an unbounded
    // compression gives; none where LZ4 cannot take the file.
    const auto output = [&](std::size_t needed) {
        Fit(storedBytes, needed, false);
        return std::span(storedBytes.data(), needed);
    };
    const bool compressible = size > 0 && size <= static_cast<std::size_t>(LZ4_MAX_INPUT_SIZE);
    const std::size_t bound = compressible ? static_cast<std::size_t>(LZ4_compressBound(static_cast<int>(size))) : 0;
    if (!cache_ || !cache_->Usable()) {
        LoadedFile loaded = codec_.Encode(raw, bound > 0 ? output(bound) : std::span<std::uint8_t>());
        writtenEnd_ = std::max(writtenEnd_, codec_.OutputTouched());
        return loaded;
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
        loaded.stored = found->compressed ? std::span(storedBytes.data(), found->storedSize) : raw;
        return loaded;
    }
    LoadedFile loaded = codec_.Encode(raw, bound > 0 ? output(bound) : std::span<std::uint8_t>(), contentHash);
    writtenEnd_ = std::max(writtenEnd_, codec_.OutputTouched());
    cache_->Store(key, size, loaded.IsCompressed() ? loaded.stored : std::span<std::uint8_t>());
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
    for (ByteBuffer* buffer : {&rawBytes, &storedBytes}) {
        if (buffer->size() > KeptCapacity)
            buffer->Reallocate(0);
        else if (writtenEnd_ > keep)
            buffer->Discard(keep, writtenEnd_);
    }
    writtenEnd_ = std::min(writtenEnd_, keep);
}

}  // namespace zelkor
