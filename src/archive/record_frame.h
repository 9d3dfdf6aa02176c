#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace zelkor {

// The frame that the small record files share (a volume set's manifest, a
// patch's deletion list, the cache's status and build records): a 4-byte magic
// number and a 4-byte version first, little-endian, and last an 8-byte
// checksum, XXH64 (seed 0) of every byte before it. What lies between is each
// file's own.
class RecordFrame {
public:
    static constexpr std::size_t MagicAt = 0;
    static constexpr std::size_t VersionAt = 4;
    static constexpr std::size_t ChecksumSize = 8;

    // Writes the magic number and version over the first 8 bytes of `out`,
    // which holds at least that many.
    static void Begin(std::vector<std::uint8_t>& out, std::uint32_t magic, std::uint32_t version);
    // Appends the checksum of everything in `out`.
    static void Seal(std::vector<std::uint8_t>& out);

    // Of bytes at least 8 long: the magic number and version they begin with.
    static std::uint32_t Magic(std::span<const std::uint8_t> bytes);
    static std::uint32_t Version(std::span<const std::uint8_t> bytes);
    // Whether bytes of at least ChecksumSize end in the checksum of what
    // precedes it.
    static bool Sealed(std::span<const std::uint8_t> bytes);
};

}  // namespace zelkor
