#include "reader/source_cursor.h"

#include <algorithm>
#include <cstring>

namespace zelkor {

namespace {

// The first read after a skip beyond the buffer: enough for a record and a few
// small entries behind it, little enough that a walk over large entries reads
// little more than their records.
constexpr std::size_t ReadAfterSkip = 512;

}  // namespace

SourceCursor::SourceCursor(const ByteSource& source, std::uint64_t position, std::size_t bufferSize,
                           std::pmr::memory_resource* memory)
    : source_(&source), position_(position), buffer_(std::max<std::size_t>(bufferSize, 1), memory)
{
}

std::optional<std::size_t> SourceCursor::Read(void* data, std::size_t size)
{
    auto* out = static_cast<std::uint8_t*>(data);
    std::size_t done = 0;
    while (done < size) {
        if (position_ >= bufferStart_ && position_ - bufferStart_ < bufferFill_) {
            const auto at = static_cast<std::size_t>(position_ - bufferStart_);
            const std::size_t count = std::min(size - done, bufferFill_ - at);
            std::memcpy(out + done, buffer_.data() + at, count);
            done += count;
            position_ += count;
            continue;
        }
        if (size - done >= buffer_.size()) {
            // As large as the buffer or more: straight into the caller's memory.
            const std::optional<std::size_t> got =
                source_->ReadAt(position_, std::span<std::uint8_t>(out + done, size - done));
            if (!got)
                return std::nullopt;
            done += *got;
            position_ += *got;
            break;
        }
        // Reading on from where the buffer ended fills it; landing far beyond
        // it after a skip reads a little, and the whole buffer once the records
        // lie close together again.
        const bool contiguous = position_ == bufferStart_ + bufferFill_;
        const std::size_t want = contiguous ? buffer_.size()
                                            : std::min(buffer_.size(), std::max(ReadAfterSkip, size - done));
        const std::optional<std::size_t> got =
            source_->ReadAt(position_, std::span<std::uint8_t>(buffer_.data(), want));
        if (!got)
            return std::nullopt;
        bufferStart_ = position_;
        bufferFill_ = *got;
        if (bufferFill_ == 0)
            break;
    }
    return done;
}

}  // namespace zelkor
