#include "pack/streamed_source.h"

#include "archive/archive_format.h"
#include "archive/content_hasher.h"

namespace zelkor {

StreamedSource::StreamedSource(File file) : file_(std::move(file))
{
}

bool StreamedSource::Measure(std::uint64_t& size, std::uint32_t& contentHash)
{
    if (!buffer_)
        buffer_ = std::make_unique_for_overwrite<std::uint8_t[]>(Piece);
    ContentHasher content;
    std::uint64_t done = 0;
    // Not past the archive's limit: a larger source is refused by its size.
    while (done < ArchiveAddressLimit) {
        const std::optional<std::size_t> got = ReadAt(done, std::span(buffer_.get(), Piece));
        if (!got)
            return false;
        if (*got == 0)
            break;
        content.Update(std::span<const std::uint8_t>(buffer_.get(), *got));
        done += *got;
    }
    size = done;
    contentHash = content.Digest();
    return true;
}

std::optional<std::size_t> StreamedSource::ReadAt(std::uint64_t offset, std::span<std::uint8_t> piece)
{
    return file_.ReadAt(offset, piece.data(), piece.size());
}

}  // namespace zelkor
