#include "script/file_job.h"

#include <fcntl.h>

#include <algorithm>

#include "archive/archive_format.h"
#include "platform/file.h"

namespace zelkor {

FileJob::FileJob() : storedBytes(FileJobCapacity), rawBytes(FileJobCapacity)
{
}

std::optional<LoadedFile> FileJob::Load(const std::string& path)
{
    File source = File::OpenRegular(path, O_RDONLY);
    const std::optional<FileStatus> status = source.IsOpen() ? source.Status() : std::nullopt;
    if (!status)
        return std::nullopt;
    return LoadFrom(source, status->size);
}

std::optional<LoadedFile> FileJob::LoadFrom(File& source, std::uint64_t length)
{
    if (length >= ArchiveAddressLimit) {
        LoadedFile tooLarge;
        tooLarge.rawSize = length;
        return tooLarge;
    }
    FitBuffers(static_cast<std::size_t>(length));
    writtenEnd_ = std::max(writtenEnd_, static_cast<std::size_t>(length));
    const auto got = source.ReadUpTo(rawBytes.data(), static_cast<std::size_t>(length));
    if (!got)
        return std::nullopt;
    // From here on only the bytes actually read count: whatever an earlier, longer
    // file left in the buffer beyond them is never hashed or stored.
    LoadedFile loaded = codec_.Encode(std::span(rawBytes.data(), *got),
                                      std::span(storedBytes.data(), storedBytes.size()));
    writtenEnd_ = std::max(writtenEnd_, codec_.OutputTouched());
    return loaded;
}

void FileJob::ReleaseMemory(std::size_t keep)
{
    if (writtenEnd_ <= keep)
        return;
    rawBytes.Discard(keep, writtenEnd_);
    storedBytes.Discard(keep, writtenEnd_);
    writtenEnd_ = keep;
}

void FileJob::FitBuffers(std::size_t length)
{
    // A larger file needs buffers of its size; grown buffers go back to the usual
    // size with the next file that fits it, so one large file does not pin its
    // memory for the worker's life.
    auto fit = [length](ByteBuffer& buffer) {
        if (length > FileJobCapacity ? buffer.size() < length : buffer.size() != FileJobCapacity)
            buffer.Reallocate(std::max(length, FileJobCapacity));
    };
    fit(rawBytes);
    fit(storedBytes);
}

}  // namespace zelkor
