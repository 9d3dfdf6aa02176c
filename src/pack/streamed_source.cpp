#include "pack/streamed_source.h"

// The hash state lives on the stack.
#define XXH_STATIC_LINKING_ONLY
#include <xxhash.h>

#include "archive/archive_format.h"

namespace zelkor {

StreamedSource::StreamedSource(File file) : file_(std::move(file))
{
}

bool StreamedSource::Measure(std::uint64_t& size, std::uint32_t& contentHash)
{
    if (!buffer_)
        buffer_ = std::make_unique_for_overwrite<std::uint8_t[]>(Piece);
    XXH32_state_t xxh;
    XXH32_reset(&xxh, ContentHashSeed);
    std::uint64_t done = 0;
    // Not past the archive's limit: a larger source is refused by its size.
    while (done < ArchiveAddressLimit) {
        const std::optional<std::size_t> got = ReadAt(done, std::span(buffer_.get(), Piece));
        if (!got)
            return false;
        if (*got == 0)
            break;
        XXH32_update(&xxh, buffer_.get(), *got);
        done += *got;
    }
    size = done;
    contentHash = XXH32_digest(&xxh);
    return true;
}

std::optional<std::size_t> StreamedSource::ReadAt(std::uint64_t offset, std::span<std::uint8_t> piece)
{
    return file_.ReadAt(offset, piece.data(), piece.size());
}

}  // namespace zelkor
