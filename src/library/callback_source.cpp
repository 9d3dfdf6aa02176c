#include "library/callback_source.h"

namespace zelkor {

CallbackSource::CallbackSource(const zlk_source& source, std::string name) : source_(source), name_(std::move(name))
{
}

CallbackSource::~CallbackSource()
{
    if (source_.release)
        source_.release(source_.opaque);
}

std::optional<std::size_t> CallbackSource::ReadAt(std::uint64_t offset, std::span<std::uint8_t> buffer) const
{
    std::size_t done = 0;
    while (done < buffer.size() && offset + done < source_.size) {
        const int64_t got = source_.read_at(source_.opaque, offset + done, buffer.data() + done, buffer.size() - done);
        if (got < 0 || static_cast<std::uint64_t>(got) > buffer.size() - done)
            return std::nullopt;
        if (got == 0)
            break;
        done += static_cast<std::size_t>(got);
    }
    return done;
}

}  // namespace zelkor
