// The pieces of an entry's read: the streaming LZ4 decoder against LZ4 itself,
// the shared-schedule CFB decryption against the crypto library's own, and
// positioned reads inside entries stored raw.
#include "reader/entry_reader.h"

#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <lz4.h>
#include <lz4hc.h>

#include "archive/archive_key.h"
#include "archive/content_hasher.h"
#include "reader/block_decoder.h"
#include "reader/entry_cipher.h"
#include "support/memory_source.h"
#include "support/test_data.h"

namespace zelkor {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes ToBytes(const std::string& text)
{
    return Bytes(text.begin(), text.end());
}

Bytes Compress(const Bytes& raw)
{
    Bytes block(static_cast<std::size_t>(LZ4_compressBound(static_cast<int>(raw.size()))));
    const int size = LZ4_compress_HC(reinterpret_cast<const char*>(raw.data()), reinterpret_cast<char*>(block.data()),
                                     static_cast<int>(raw.size()), static_cast<int>(block.size()), 9);
    block.resize(static_cast<std::size_t>(size));
    return block;
}

// A block handed over a piece at a time, as a decoder asks for it.
class PieceInput : public BlockDecoder::Input {
public:
    explicit PieceInput(const Bytes& block, std::size_t granule = 1) : block_(block), granule_(granule) {}

    void Fill(std::span<std::uint8_t> into) override
    {
        ASSERT_LE(next_ + into.size(), block_.size());
        if (next_ + into.size() < block_.size()) {
            EXPECT_EQ(into.size() % granule_, 0u) << "a piece that is not the last is whole granules";
        }
        std::copy_n(block_.begin() + static_cast<std::ptrdiff_t>(next_), into.size(), into.begin());
        next_ += into.size();
    }

private:
    const Bytes& block_;
    std::size_t granule_;
    std::size_t next_ = 0;
};

bool Decode(const Bytes& block, Bytes& raw, std::size_t window, std::size_t granule = 16)
{
    Bytes memory(window);
    PieceInput input(block, granule);
    return BlockDecoder(memory, granule).Decode(input, block.size(), raw);
}

// Raw contents that exercise every path: matches of every offset class, long
// literal runs, runs of one byte, an incompressible tail that ends the block.
std::vector<Bytes> Contents()
{
    std::vector<Bytes> contents;
    contents.push_back(ToBytes(testing::CompressibleText(300000, 1)));
    contents.push_back(ToBytes(std::string(100000, 'a')));
    contents.push_back(ToBytes(testing::CompressibleText(70000, 2) + testing::RandomBytes(40000, 3)));
    contents.push_back(ToBytes(testing::RandomBytes(5000, 4) + std::string(5000, 'b') + "abcabcabcabcabc"));
    for (std::size_t size : {1u, 12u, 13u, 17u, 64u, 65u, 300u}) {
        std::string text;
        for (std::size_t i = 0; i < size; ++i)
            text += static_cast<char>("abcd"[i % 4]);
        contents.push_back(ToBytes(text));
    }
    return contents;
}

TEST(BlockDecoderTest, DecodesWhatLz4WroteThroughAnyWindowAndGranule)
{
    for (const Bytes& raw : Contents()) {
        const Bytes block = Compress(raw);
        for (std::size_t window : {std::size_t{256}, std::size_t{1000}, std::size_t{32768}}) {
            for (std::size_t granule : {std::size_t{1}, std::size_t{16}, std::size_t{64}}) {
                Bytes out(raw.size());
                EXPECT_TRUE(Decode(block, out, window, granule)) << raw.size() << " " << window << " " << granule;
                EXPECT_EQ(out, raw) << raw.size() << " " << window << " " << granule;
            }
        }
    }
}

// Damaged blocks: whatever the decoder accepts, LZ4 accepts with the same
// bytes, and whatever LZ4 refuses, the decoder refuses, for the same raw size.
TEST(BlockDecoderTest, AgreesWithLz4OnDamagedBlocks)
{
    std::mt19937 random(42);
    const std::vector<Bytes> contents = Contents();
    std::vector<Bytes> blocks;
    for (const Bytes& raw : contents)
        blocks.push_back(Compress(raw));
    for (int round = 0; round < 3000; ++round) {
        const std::size_t which = random() % contents.size();
        const Bytes& raw = contents[which];
        Bytes block = blocks[which];
        switch (round % 4) {
        case 0:
            block[random() % block.size()] ^= static_cast<std::uint8_t>(1 + random() % 255);
            break;
        case 1:
            block.resize(random() % block.size() + 1);
            break;
        case 2:
            block[random() % block.size()] = 0xFF;
            break;
        case 3:
            block.insert(block.begin() + static_cast<std::ptrdiff_t>(random() % block.size()),
                         static_cast<std::uint8_t>(random()));
            break;
        }
        const std::size_t rawSize = round % 5 == 0 ? raw.size() + 1 + random() % 8 : raw.size();
        Bytes expected(rawSize);
        const int produced = LZ4_decompress_safe(reinterpret_cast<const char*>(block.data()),
                                                 reinterpret_cast<char*>(expected.data()),
                                                 static_cast<int>(block.size()), static_cast<int>(rawSize));
        const bool lz4Accepts = produced == static_cast<int>(rawSize);
        Bytes out(rawSize);
        const bool accepts = Decode(block, out, 256 + random() % 2000, 16);
        if (accepts) {
            EXPECT_TRUE(lz4Accepts) << "round " << round;
            EXPECT_EQ(out, expected) << "round " << round;
        }
        if (!lz4Accepts) {
            EXPECT_FALSE(accepts) << "round " << round;
        }
    }
}

TEST(BlockDecoderTest, RefusesBlocksThatEndEarlyOrLate)
{
    const Bytes raw = ToBytes(testing::CompressibleText(20000, 5));
    const Bytes block = Compress(raw);
    for (std::size_t rawSize : {raw.size() - 1, raw.size() + 1}) {
        Bytes out(rawSize);
        EXPECT_FALSE(Decode(block, out, 512)) << rawSize;
    }
}

ArchiveKey SomeKey()
{
    ArchiveKey key;
    for (std::size_t i = 0; i < key.key.size(); ++i)
        key.key[i] = static_cast<std::uint8_t>(i * 7 + 1);
    for (std::size_t i = 0; i < key.iv.size(); ++i)
        key.iv[i] = static_cast<std::uint8_t>(i * 13 + 5);
    return key;
}

// The pieces of one stream, and a stream started at a later block from the
// ciphertext before it, give the bytes that one whole decryption gives.
TEST(EntryCipherTest, DecryptsInPiecesAndFromAnyBlock)
{
    const ArchiveKey key = SomeKey();
    const EntryCipher cipher(key);
    const Bytes plain = ToBytes(testing::RandomBytes(1000, 9));
    Bytes encrypted = plain;
    key.Encrypt(encrypted);

    const std::vector<std::vector<std::size_t>> splits = {{1000}, {16, 984}, {992, 8}, {0, 160, 832, 8}, {512, 488}};
    for (const auto& split : splits) {
        Bytes bytes = encrypted;
        EntryCipher::Stream stream(cipher);
        std::size_t at = 0;
        for (std::size_t piece : split) {
            stream.Decrypt(std::span<std::uint8_t>(bytes.data() + at, piece));
            at += piece;
        }
        EXPECT_EQ(bytes, plain) << split.size();
    }
    for (std::size_t block : {1u, 2u, 61u, 62u}) {
        Bytes bytes(encrypted.begin() + static_cast<std::ptrdiff_t>(block * 16), encrypted.end());
        EntryCipher::Block previous;
        std::copy_n(encrypted.begin() + static_cast<std::ptrdiff_t>(block * 16 - 16), 16, previous.begin());
        EntryCipher::Stream(cipher, previous).Decrypt(bytes);
        EXPECT_TRUE(std::equal(bytes.begin(), bytes.end(), plain.begin() + static_cast<std::ptrdiff_t>(block * 16)))
            << block;
    }
}

// One entry stored raw at offset 88 of an archive image, and its fields.
struct RawEntry {
    testing::MemorySource source;
    FileEntry fields;
};

RawEntry MakeRawEntry(const Bytes& plain, const ArchiveKey& key)
{
    Bytes stored = plain;
    key.Encrypt(stored);
    std::string image(88, '\0');
    image.append(stored.begin(), stored.end());
    FileEntry fields;
    fields.rawSize = fields.storedSize = static_cast<std::uint32_t>(plain.size());
    fields.dataOffset = 88;
    fields.contentHash = ContentHasher::Of(plain);
    return {testing::MemorySource(image), fields};
}

TEST(EntryReaderTest, ReadsRangesOfRawEntriesAtAnyOffset)
{
    const ArchiveKey key = SomeKey();
    const EntryCipher cipher(key);
    const Bytes plain = ToBytes(testing::RandomBytes(777, 11));
    const RawEntry entry = MakeRawEntry(plain, key);

    Bytes whole(plain.size());
    EXPECT_EQ(EntryReader::Read(entry.source, cipher, entry.fields, whole), EntryReader::Status::Ok);
    EXPECT_EQ(whole, plain);
    const std::vector<std::pair<std::size_t, std::size_t>> ranges = {
        {0, 0}, {0, 777}, {0, 16}, {5, 3}, {5, 11}, {5, 12}, {15, 2}, {16, 16}, {17, 100}, {760, 17}, {776, 1}, {700, 77}};
    for (const auto& [offset, length] : ranges) {
        Bytes out(length);
        EntryReader::ReadRange(entry.source, cipher, entry.fields, offset, out);
        EXPECT_TRUE(std::equal(out.begin(), out.end(), plain.begin() + static_cast<std::ptrdiff_t>(offset)))
            << offset << "+" << length;
    }
}

TEST(EntryReaderTest, RefusesWhatCannotBeTheEntry)
{
    const ArchiveKey key = SomeKey();
    const EntryCipher cipher(key);
    const Bytes plain = ToBytes(testing::RandomBytes(100, 12));
    RawEntry entry = MakeRawEntry(plain, key);
    Bytes out(plain.size());

    entry.fields.contentHash ^= 1;
    EXPECT_EQ(EntryReader::Read(entry.source, cipher, entry.fields, out), EntryReader::Status::HashMismatch);
    // No LZ4 block expands more than 255 times: refused before anything is read.
    EXPECT_FALSE(EntryReader::CouldDecode(256 * 10, 10));
    EXPECT_TRUE(EntryReader::CouldDecode(255 * 10, 10));
    EXPECT_FALSE(EntryReader::CouldDecode(10, 11));
}

}  // namespace
}  // namespace zelkor
