#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace zelkor {

// Decodes one LZ4 block straight into the caller's memory for its raw bytes,
// taking the block's bytes a window at a time as they are read and decrypted,
// so that an entry of any size is decoded with no memory of its own: the
// window is the caller's (it may live on the stack), and matches reach back
// into the raw bytes already written.
//
// It refuses every block that LZ4_decompress_safe refuses for the same raw size
// (and also an offset of zero, which no compressor writes); a block it accepts
// decodes to the same bytes. It never reads or writes outside the window and
// the raw bytes' memory, whatever the block holds; a refused block leaves the
// raw bytes' memory holding anything.
class BlockDecoder {
public:
    // Where the block's bytes come from, in order.
    class Input {
    public:
        virtual ~Input() = default;
        // Fills `into` with the next into.size() bytes of the block; the
        // decoder never asks for more than the block's size in all. Throws when
        // they cannot be had.
        virtual void Fill(std::span<std::uint8_t> into) = 0;
    };

    // The least window a decoder works with.
    static constexpr std::size_t MinWindow = 256;

    // Every piece asked of `input` is a multiple of `granule` bytes long (a
    // power of two up to 64), but the last piece of the block, so that a cipher
    // that works in blocks can decrypt each piece as it comes.
    BlockDecoder(std::span<std::uint8_t> window, std::size_t granule);

    // Decodes the block of `blockSize` bytes that `input` gives into `raw`,
    // which it must fill exactly. `progress`, when given, is told how many raw
    // bytes at the start of `raw` are final every time the window is filled,
    // so that they can be hashed while they are still in the cache.
    class Progress {
    public:
        virtual ~Progress() = default;
        virtual void Final(std::size_t count) = 0;
    };
    bool Decode(Input& input, std::uint64_t blockSize, std::span<std::uint8_t> raw, Progress* progress = nullptr);

private:
    std::span<std::uint8_t> window_;
    std::size_t granule_;
};

}  // namespace zelkor
