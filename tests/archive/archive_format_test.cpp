// Byte layouts of the records, the name hash and the 32-bit limits. The header
// layouts and the key forming are checked on written files (archive_writer_test).
#include "archive/archive_format.h"

#include <cstdint>
#include <numeric>
#include <vector>

#include <gtest/gtest.h>
#include <xxhash.h>

namespace zelkor {
namespace {

using Bytes = std::vector<std::uint8_t>;

TEST(ArchiveFormatTest, FileEntryLayout)
{
    FileEntry entry;
    entry.rawSize = 0x04030201;
    entry.contentHash = 0x08070605;
    entry.dataOffset = 0x0C0B0A09;
    entry.storedSize = 0x100F0E0D;
    entry.nameHash = 0x14131211;
    std::uint8_t bytes[FileEntry::Size];
    entry.EncodeTo(bytes);
    Bytes expected(FileEntry::Size);
    std::iota(expected.begin(), expected.end(), 1);
    EXPECT_EQ(Bytes(bytes, bytes + FileEntry::Size), expected);

    const FileEntry decoded = FileEntry::DecodeFrom(bytes);
    EXPECT_EQ(decoded.rawSize, entry.rawSize);
    EXPECT_EQ(decoded.contentHash, entry.contentHash);
    EXPECT_EQ(decoded.dataOffset, entry.dataOffset);
    EXPECT_EQ(decoded.storedSize, entry.storedSize);
    EXPECT_EQ(decoded.nameHash, entry.nameHash);
}

TEST(ArchiveFormatTest, NameRecordLayout)
{
    // The name keeps its case and separators.
    EXPECT_EQ((NameRecord{"Ab\\c", 0xDEADBEEF}.Encode()),
              (Bytes{0x04, 0x00, 'A', 'b', '\\', 'c', 0xEF, 0xBE, 0xAD, 0xDE}));
    EXPECT_EQ((NameRecord{"", 1}.Encode()), (Bytes{0, 0, 1, 0, 0, 0}));
    const NameRecord longest{std::string(MaxNameLength, 'x'), 0};
    const Bytes encoded = longest.Encode();
    ASSERT_EQ(encoded.size(), 2 + MaxNameLength + 4);
    EXPECT_EQ(encoded[0], 0xFF);
    EXPECT_EQ(encoded[1], 0xFF);
}

TEST(ArchiveFormatTest, NormalizedNames)
{
    struct Case {
        const char* path;
        const char* normalized;
    } const cases[] = {
        {"", ""},
        {"Data\\Textures\\Stone.PNG", "data/textures/stone.png"},
        {"AZaz09", "azaz09"},
        {"@[`{", "@[`{"},                          // neighbours of A-Z and a-z stay
        {"\\\\Lead//Trail\\", "//lead//trail/"},   // repeated separators stay
        {"\xC4\xD6\xDC/\xC3\x84", "\xC4\xD6\xDC/\xC3\x84"},  // bytes from 0x80 stay
    };
    for (const Case& c : cases)
        EXPECT_EQ(NormalizeName(c.path), c.normalized) << c.path;
}

TEST(ArchiveFormatTest, KnownHashes)
{
    // CRC-32 (IEEE) of the check string; the name hash is that of the normalised name.
    EXPECT_EQ(NameHash("123456789"), 0xCBF43926u);
    EXPECT_EQ(NameHash(""), 0u);
    EXPECT_EQ(NameHash("data/textures/stone.png"), 0x4EE9D0AFu);
    EXPECT_EQ(NameHash("Data\\Textures\\STONE.png"), 0x4EE9D0AFu);

    // The content hash: XXH32 seeded with the archive magic.
    EXPECT_EQ(XXH32("", 0, ArchiveMagic), 0x40C34F51u);
    EXPECT_EQ(XXH32("123456789", 9, ArchiveMagic), 0xD1C34472u);
}

TEST(ArchiveFormatTest, EntriesMustFitTheThirtyTwoBitFields)
{
    constexpr std::uint64_t Limit = ArchiveAddressLimit;
    struct Case {
        std::uint64_t entryOffset;
        std::uint64_t storedSize;
        bool fits;
    } const cases[] = {
        {ArchiveHeader::Size, 0, true},
        {ArchiveHeader::Size, Limit - ArchiveHeader::Size - FileEntry::Size, true},
        {ArchiveHeader::Size, Limit - ArchiveHeader::Size - FileEntry::Size + 1, false},
        {Limit - FileEntry::Size - 1, 1, true},   // last stored byte at 2^32 - 1
        {Limit - FileEntry::Size - 1, 0, true},   // dataOffset 2^32 - 1
        {Limit - FileEntry::Size, 0, false},      // dataOffset would be 2^32
        {Limit - FileEntry::Size, 1, false},
        {Limit, 0, false},
        {ArchiveHeader::Size, Limit, false},
        {~std::uint64_t{0}, ~std::uint64_t{0}, false},  // no wrap-around
    };
    for (const Case& c : cases)
        EXPECT_EQ(EntryFits(c.entryOffset, c.storedSize), c.fits)
            << c.entryOffset << " + " << c.storedSize;
}

}  // namespace
}  // namespace zelkor
