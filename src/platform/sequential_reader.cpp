#include "platform/sequential_reader.h"

#include <algorithm>
#include <cstring>

namespace zelkor {

SequentialReader::SequentialReader(const File& file, std::uint64_t position, std::size_t bufferSize)
    : file_(&file), position_(position), buffer_(std::max<std::size_t>(bufferSize, 1))
{
}

std::optional<std::size_t> SequentialReader::Read(void* data, std::size_t size)
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
            const std::optional<std::size_t> got = file_->ReadAt(position_, out + done, size - done);
            if (!got)
                return std::nullopt;
            done += *got;
            position_ += *got;
            break;
        }
        const std::optional<std::size_t> got = file_->ReadAt(position_, buffer_.data(), buffer_.size());
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
