#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "archive/archive_format.h"
#include "archive/loaded_file.h"
#include "platform/byte_buffer.h"

namespace zelkor {

// The content of one entry before encryption, both ways: the content hash, the
// compression of raw bytes into stored bytes (one LZ4 high-compression block,
// or the raw bytes themselves when the block is not strictly smaller), and the
// decoding of stored bytes back into checked raw bytes.
//
// Encoding needs LZ4's working state (a quarter megabyte), which a codec makes
// once and reuses for every file; one codec serves one thread at a time.
// Decoding needs no state and is static.
class EntryCodec {
public:
    enum class Status {
        Ok,
        BadCompression,  // the stored bytes are no LZ4 block of exactly rawSize bytes
        HashMismatch,    // the raw bytes' hash differs from the content hash
    };

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

    // Whether a compressed entry of these sizes can be a real LZ4 block at all;
    // checked before rawSize bytes are allocated for it.
    static bool CouldDecode(std::uint32_t rawSize, std::uint32_t storedSize);

    // Turns the decrypted stored bytes of an entry back into its raw bytes in
    // `content` (decompressing when there are fewer than rawSize of them) and
    // checks them against the content hash. `stored` may be taken over.
    static Status Decode(std::vector<std::uint8_t>&& stored, std::uint32_t rawSize,
                         std::uint32_t contentHash, std::vector<std::uint8_t>& content);

    // "ok", "stored bytes do not decompress to the raw size", "content hash does
    // not match".
    static const char* Describe(Status status);

private:
    ByteBuffer state_;
    std::size_t outputTouched_ = 0;
};

}  // namespace zelkor
