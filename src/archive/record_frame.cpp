#include "archive/record_frame.h"

#include <xxhash.h>

#include "platform/little_endian.h"

namespace zelkor {

void RecordFrame::Begin(std::vector<std::uint8_t>& out, std::uint32_t magic, std::uint32_t version)
{
    EncodeFixed32(&out[MagicAt], magic);
    EncodeFixed32(&out[VersionAt], version);
}

void RecordFrame::Seal(std::vector<std::uint8_t>& out)
{
    std::uint8_t checksum[ChecksumSize];
    EncodeFixed64(checksum, XXH64(out.data(), out.size(), 0));
    out.insert(out.end(), checksum, checksum + ChecksumSize);
}

std::uint32_t RecordFrame::Magic(std::span<const std::uint8_t> bytes)
{
    return DecodeFixed32(&bytes[MagicAt]);
}

std::uint32_t RecordFrame::Version(std::span<const std::uint8_t> bytes)
{
    return DecodeFixed32(&bytes[VersionAt]);
}

bool RecordFrame::Sealed(std::span<const std::uint8_t> bytes)
{
    const std::size_t body = bytes.size() - ChecksumSize;
    return DecodeFixed64(&bytes[body]) == XXH64(bytes.data(), body, 0);
}

}  // namespace zelkor
