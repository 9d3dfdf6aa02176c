#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "archive/archive_format.h"
#include "archive/loaded_file.h"
#include "platform/byte_buffer.h"

namespace zelkor {

// The content of one entry before encryption, as a writer makes it: the content
// hash, and the compression of raw bytes into stored bytes (one LZ4
// high-compression block, or the raw bytes themselves when the block is not
// strictly smaller). Readers decode with EntryReader (src/reader/).
//
// Encoding needs LZ4's working state (a quarter megabyte), which a codec makes
// once and reuses for every file; one codec serves one thread at a time.
class EntryCodec {
public:
    EntryCodec();

    // XXH32 of `raw` with ContentHashSeed.
    static std::uint32_t ContentHash(std::span<const std::uint8_t> raw);

    // Hashes `raw` and compresses it into `out` at `level` (MinCompressionLevel
    // to MaxCompressionLevel), never writing past its end. The result's stored
    // bytes are the first bytes of `out` when the block is strictly smaller than
    // `raw` and fits; otherwise they are `raw` itself, uncopied. Either way the
    // result is what an archive stores for `raw` at that level.
    LoadedFile Encode(std::span<std::uint8_t> raw, std::span<std::uint8_t> out, int level = CompressionLevel);
    // The same, with the content hash of `raw` already known.
    LoadedFile Encode(std::span<std::uint8_t> raw, std::span<std::uint8_t> out, std::uint32_t contentHash,
                      int level = CompressionLevel);

    // How far into `out` the last Encode may have written (compression can use
    // a few bytes of slack behind its result, or all of `out` when it ran out of
    // room).
    std::size_t OutputTouched() const { return outputTouched_; }

private:
    ByteBuffer state_;
    std::size_t outputTouched_ = 0;
};

}  // namespace zelkor
