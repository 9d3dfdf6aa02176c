#include "script/file_job.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <climits>
#include <cstring>

#include <lz4.h>
#include <lz4hc.h>
#include <xxhash.h>

#include "archive/archive_format.h"
#include "platform/file.h"

namespace zelkor {

FileJob::FileJob()
    : storedBytes(FileJobCapacity),
      rawBytes(FileJobCapacity),
      compressorState_(static_cast<std::size_t>(LZ4_sizeofStateHC()))
{
    LZ4_initStreamHC(compressorState_.data(), compressorState_.size());
}

bool FileJob::Load(const std::string& path)
{
    Reset();
    // Non-blocking, so that opening a FIFO without a writer returns at once; for
    // the regular files that are read it changes nothing.
    File source = File::Open(path, O_RDONLY | O_NONBLOCK);
    if (!source.IsOpen())
        return false;
    struct stat info;
    if (::fstat(source.Descriptor(), &info) != 0 || !S_ISREG(info.st_mode))
        return false;
    return LoadFrom(source, static_cast<std::uint64_t>(info.st_size));
}

bool FileJob::LoadFrom(File& source, std::uint64_t length)
{
    Reset();
    if (length >= ArchiveAddressLimit) {
        rawSize = length;
        return true;
    }
    FitBuffers(static_cast<std::size_t>(length));
    writtenEnd_ = std::max(writtenEnd_, static_cast<std::size_t>(length));
    const auto got = source.ReadUpTo(rawBytes.data(), static_cast<std::size_t>(length));
    if (!got)
        return false;
    // From here on only the bytes actually read count: whatever an earlier, longer
    // file left in the buffer beyond them is never hashed or stored.
    rawSize = *got;
    contentHash = XXH32(rawBytes.data(), static_cast<std::size_t>(rawSize), ArchiveMagic);
    Compress();
    return true;
}

void FileJob::ReleaseMemory(std::size_t keep)
{
    if (writtenEnd_ <= keep)
        return;
    rawBytes.Discard(keep, writtenEnd_);
    storedBytes.Discard(keep, writtenEnd_);
    writtenEnd_ = keep;
}

void FileJob::Reset()
{
    storedSize = 0;
    rawSize = 0;
    contentHash = 0;
}

void FileJob::FitBuffers(std::size_t length)
{
    // A larger file needs buffers of its size (the raw copy needs as much room as
    // the raw bytes); grown buffers go back to the usual size with the next file
    // that fits it, so one large file does not pin its memory for the worker's life.
    auto fit = [length](ByteBuffer& buffer) {
        if (length > FileJobCapacity ? buffer.size() < length : buffer.size() != FileJobCapacity)
            buffer.Reallocate(std::max(length, FileJobCapacity));
    };
    fit(rawBytes);
    fit(storedBytes);
}

void FileJob::Compress()
{
    // One block of LZ4 high compression at the default level, bounded by the output
    // buffer, with the same result as LZ4_compress_HC. The working state is kept by
    // this job and reset the fast way: instead of clearing its quarter megabyte
    // of tables for every file, the state moves its window past every entry that
    // an earlier file left there, so no match can reach back into that file.
    // A result that does not fit (0), that is not strictly smaller, or an input too
    // large for one block, leaves the file stored raw.
    if (rawSize <= LZ4_MAX_INPUT_SIZE) {
        const int capacity = static_cast<int>(std::min<std::size_t>(storedBytes.size(), INT_MAX));
        auto* stream = static_cast<LZ4_streamHC_t*>(static_cast<void*>(compressorState_.data()));
        LZ4_resetStreamHC_fast(stream, LZ4HC_CLEVEL_DEFAULT);
        const int produced = LZ4_compress_HC_continue(
            stream, reinterpret_cast<const char*>(rawBytes.data()),
            reinterpret_cast<char*>(storedBytes.data()), static_cast<int>(rawSize), capacity);
        // Output stays within the first `produced` bytes, give or take a few bytes of
        // copying slack; a compression that ran out of room may have reached the end.
        writtenEnd_ = std::max(writtenEnd_, produced > 0 ? static_cast<std::size_t>(produced) + 64
                                                         : static_cast<std::size_t>(capacity));
        if (produced > 0 && static_cast<std::uint64_t>(produced) < rawSize) {
            storedSize = static_cast<std::uint64_t>(produced);
            return;
        }
    }
    if (rawSize > 0)
        std::memcpy(storedBytes.data(), rawBytes.data(), static_cast<std::size_t>(rawSize));
    storedSize = rawSize;
}

}  // namespace zelkor
