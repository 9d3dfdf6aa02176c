#pragma once

// The records of an archive file and of its key file, shared by the writer and
// the reader. docs/format.md describes both layouts in prose. Every record is
// encoded field by field, little-endian, so the bytes on disk do not depend on
// the host's byte order or on how the compiler lays out a struct.

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/ascii.h"
#include "platform/little_endian.h"

namespace zelkor {

// First field of every archive.
inline constexpr std::uint32_t ArchiveMagic = 0x0A0FED0C;

// The content hash is XXH32 of the raw bytes with this seed (the magic again).
inline constexpr std::uint32_t ContentHashSeed = ArchiveMagic;

// Stored bytes are one block of LZ4 high compression, or the raw bytes when
// that block is not strictly smaller. Every level gives the same block format;
// a pack command chooses one of these (its Level), the library's default unless
// it says otherwise.
inline constexpr int CompressionLevel = 9;
inline constexpr int MinCompressionLevel = 1;
inline constexpr int MaxCompressionLevel = 12;

// Random bytes per share; the key takes all of them, the IV the first IvSize.
inline constexpr std::size_t ShareSize = 32;
inline constexpr std::size_t KeySize = 32;
inline constexpr std::size_t IvSize = 16;

// The widest archived path a NameRecord can hold.
inline constexpr std::size_t MaxNameLength = 0xFFFF;

// dataOffset, rawSize and storedSize are 32-bit: no stored byte may lie at or
// beyond this offset, and no file may be this long.
inline constexpr std::uint64_t ArchiveAddressLimit = std::uint64_t{1} << 32;

// What an archive's path is followed by to name its key file by default.
inline constexpr std::string_view KeyFileSuffix = ".zlk";

using Share = std::array<std::uint8_t, ShareSize>;

// --- Records ----------------------------------------------------------------------

// Offset 0 of an archive: magic, then the archive's key and IV shares.
struct ArchiveHeader {
    static constexpr std::size_t Size = 68;

    std::uint32_t magic = ArchiveMagic;
    Share keyShare{};
    Share ivShare{};

    void EncodeTo(std::span<std::uint8_t, Size> out) const;
    // Takes the bytes as they are; checking the magic is the reader's business.
    static ArchiveHeader DecodeFrom(std::span<const std::uint8_t, Size> in);
};

// Precedes the stored bytes of every file in the archive.
struct FileEntry {
    static constexpr std::size_t Size = 20;

    std::uint32_t rawSize = 0;
    std::uint32_t contentHash = 0;
    std::uint32_t dataOffset = 0;  // offset of this record + Size
    std::uint32_t storedSize = 0;
    std::uint32_t nameHash = 0;

    bool operator==(const FileEntry& other) const = default;

    void EncodeTo(std::span<std::uint8_t, Size> out) const;
    static FileEntry DecodeFrom(std::span<const std::uint8_t, Size> in);
};

// Offset 0 of a key file: the second key and IV shares.
struct KeyFileHeader {
    static constexpr std::size_t Size = 64;

    Share keyShare{};
    Share ivShare{};

    void EncodeTo(std::span<std::uint8_t, Size> out) const;
    static KeyFileHeader DecodeFrom(std::span<const std::uint8_t, Size> in);
};

// One per entry in the key file: the archived path as given, and the entry's
// content hash. Variable length: LengthSize + name + HashSize bytes.
struct NameRecord {
    static constexpr std::size_t LengthSize = 2;
    static constexpr std::size_t HashSize = 4;

    std::string name;  // at most MaxNameLength bytes
    std::uint32_t contentHash = 0;

    std::size_t EncodedSize() const { return LengthSize + name.size() + HashSize; }
    // The whole record. The name must not be longer than MaxNameLength.
    std::vector<std::uint8_t> Encode() const;

    // The nameLength field at the start of a record: how many name bytes follow.
    static std::size_t DecodeNameLength(std::span<const std::uint8_t, LengthSize> in);
    // A whole record; `in` holds exactly LengthSize + nameLength + HashSize bytes.
    static NameRecord DecodeFrom(std::span<const std::uint8_t> in);
};

// --- Names and keys ---------------------------------------------------------------

// The archived path with A-Z lowered and backslashes turned into slashes; every
// other byte, and the length, unchanged. Independent of the locale.
std::string NormalizeName(std::string_view archivedPath);
// One byte of a name as NormalizeName writes it: A-Z in lower case, "\\" as "/".
constexpr char NormalNameByte(char c)
{
    return c == '\\' ? '/' : AsciiLower(c);
}

// CRC-32 (IEEE 802.3, as zlib) of the normalised name.
std::uint32_t NameHash(std::string_view archivedPath);

// Whether two archived paths are one name: equal once both are normalised.
// Allocates nothing.
bool SameName(std::string_view a, std::string_view b);

// Whether an entry whose FileEntry starts at `entryOffset` and which has
// `storedSize` stored bytes can be addressed by the 32-bit fields: its
// dataOffset must fit, and its last byte must lie below ArchiveAddressLimit.
bool EntryFits(std::uint64_t entryOffset, std::uint64_t storedSize);

}  // namespace zelkor
