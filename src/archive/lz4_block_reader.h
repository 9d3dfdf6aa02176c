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
// (in pieces also an offset of zero, which no compressor writes); a block it
// accepts decodes to the same bytes there. Raw bytes that fit the window whole
// are decoded by LZ4 itself, in one piece. The window is allocated at the first
// use and reused; one reader serves one thread at a time.
class Lz4BlockReader {
public:
    // With `alwaysInPieces`, for tests: no block is given to LZ4 whole.
    explicit Lz4BlockReader(bool alwaysInPieces = false) : alwaysInPieces_(alwaysInPieces) {}

    // Takes the next piece of raw bytes; false stops the decoding.
    using Sink = std::function<bool(std::span<const std::uint8_t> piece)>;

    // True when `block` is one LZ4 block of exactly `rawSize` bytes and `sink`
    // took every piece of them. A sink that said no may have been given any
    // prefix of the bytes, and so may the sink of a block that is refused.
    bool Decode(std::span<const std::uint8_t> block, std::uint64_t rawSize, const Sink& sink);

private:
    ByteBuffer window_;
    bool alwaysInPieces_;
};

}  // namespace zelkor
