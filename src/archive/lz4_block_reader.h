#pragma once

#include <cstdint>
#include <functional>
#include <span>

#include "platform/byte_buffer.h"

namespace zelkor {

// Decodes one LZ4 block front to back through a window of about a megabyte and
// hands the raw bytes on piece by piece, in order, so that a block of any size
// can be checked against what it should hold (compared or hashed) without room
// for all of it.
//
// It refuses every block that LZ4_decompress_safe refuses for the same raw size
// (and an offset of zero, which no compressor writes); a block it accepts
// decodes to the same bytes there. The window is allocated at the first use and
// reused; one reader serves one thread at a time.
class Lz4BlockReader {
public:
    // Takes the next piece of raw bytes; false stops the decoding.
    using Sink = std::function<bool(std::span<const std::uint8_t> piece)>;

    // True when `block` is one LZ4 block of exactly `rawSize` bytes and `sink`
    // took every piece of them. A sink that said no may have been given any
    // prefix of the bytes, and so may the sink of a block that is refused.
    bool Decode(std::span<const std::uint8_t> block, std::uint64_t rawSize, const Sink& sink);

private:
    ByteBuffer window_;
};

}  // namespace zelkor
