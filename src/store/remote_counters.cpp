#include "store/remote_counters.h"

#include <algorithm>

#include "platform/little_endian.h"

namespace zelkor {

std::vector<std::uint8_t> RemoteCounters::Encode(const std::string& url) const
{
    const std::size_t urlSize = std::min(url.size(), LongestUrl);
    std::vector<std::uint8_t> bytes(NumbersSize + urlSize);
    const std::uint64_t numbers[] = {hits, misses, damaged, uploads, uploadsDropped, bytesDown, bytesUp,
                                     unusable ? 1u : 0u};
    static_assert(sizeof numbers == NumbersSize);
    for (std::size_t i = 0; i < 8; ++i)
        EncodeFixed64(&bytes[8 * i], numbers[i]);
    std::copy(url.begin(), url.begin() + static_cast<std::ptrdiff_t>(urlSize), bytes.begin() + NumbersSize);
    return bytes;
}

std::optional<RemoteCounters::Record> RemoteCounters::Decode(std::span<const std::uint8_t> bytes)
{
    if (bytes.size() < NumbersSize)
        return std::nullopt;
    Record record;
    RemoteCounters& c = record.counters;
    std::uint64_t* numbers[] = {&c.hits, &c.misses, &c.damaged, &c.uploads, &c.uploadsDropped, &c.bytesDown,
                                &c.bytesUp};
    for (std::size_t i = 0; i < 7; ++i)
        *numbers[i] = DecodeFixed64(&bytes[8 * i]);
    c.unusable = DecodeFixed64(&bytes[56]) != 0;
    const std::span<const std::uint8_t> url = bytes.subspan(NumbersSize, std::min(bytes.size() - NumbersSize, LongestUrl));
    record.url.assign(url.begin(), url.end());
    return record;
}

}  // namespace zelkor
