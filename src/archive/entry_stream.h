#pragma once

#include <cstdint>
#include <optional>
#include <span>

namespace zelkor {

// The stored bytes of an entry that are not held in memory but read a piece at
// a time while the entry is written (ArchiveWriter::AddStreamed): a large
// source stored as it is. Its size and content hash come from a pass over the
// bytes before (Measure); the writer hashes what it writes again and refuses
// an entry whose bytes changed between the passes.
//
// Used by one thread at a time.
class EntryStream {
public:
    virtual ~EntryStream() = default;

    // Reads every byte from the start to the end: their number and content
    // hash. False when they cannot be read.
    virtual bool Measure(std::uint64_t& size, std::uint32_t& contentHash) = 0;

    // Up to `piece.size()` bytes at `offset` (fewer only at the end); nothing
    // when they cannot be read.
    virtual std::optional<std::size_t> ReadAt(std::uint64_t offset, std::span<std::uint8_t> piece) = 0;
};

}  // namespace zelkor
