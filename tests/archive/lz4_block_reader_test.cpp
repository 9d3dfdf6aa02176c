// Decoding LZ4 blocks piece by piece: the same bytes as LZ4's own decoder, across
// the window's edges, and never a block that LZ4's safe decoder refuses.
#include "archive/lz4_block_reader.h"

#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <lz4.h>
#include <lz4hc.h>

#include "support/test_data.h"

namespace zelkor {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Compress(const std::string& raw)
{
    Bytes block(static_cast<std::size_t>(LZ4_compressBound(static_cast<int>(raw.size()))));
    const int size = LZ4_compress_HC(raw.data(), reinterpret_cast<char*>(block.data()), static_cast<int>(raw.size()),
                                     static_cast<int>(block.size()), LZ4HC_CLEVEL_DEFAULT);
    block.resize(static_cast<std::size_t>(size));
    return block;
}

// What LZ4_decompress_safe makes of `block` for `rawSize` bytes, when it takes
// it as a whole block of exactly that size.
std::optional<Bytes> Reference(const Bytes& block, std::size_t rawSize)
{
    Bytes raw(rawSize + 1);
    const int got = LZ4_decompress_safe(reinterpret_cast<const char*>(block.data()), reinterpret_cast<char*>(raw.data()),
                                        static_cast<int>(block.size()), static_cast<int>(rawSize));
    if (got < 0 || static_cast<std::size_t>(got) != rawSize)
        return std::nullopt;
    raw.resize(rawSize);
    return raw;
}

// Every case runs twice: with blocks that fit given to LZ4 whole, and with all
// of them decoded in pieces.
class Lz4BlockReaderTest : public ::testing::TestWithParam<bool> {
protected:
    // The reader's bytes for `block`, joined; nothing when it refuses it.
    std::optional<Bytes> Read(const Bytes& block, std::uint64_t rawSize)
    {
        Bytes raw;
        const bool ok = reader_.Decode(block, rawSize, [&](std::span<const std::uint8_t> piece) {
            EXPECT_FALSE(piece.empty());
            raw.insert(raw.end(), piece.begin(), piece.end());
            return true;
        });
        if (!ok)
            return std::nullopt;
        EXPECT_EQ(raw.size(), rawSize);
        return raw;
    }

    Lz4BlockReader reader_{GetParam()};
};

INSTANTIATE_TEST_SUITE_P(WholeOrInPieces, Lz4BlockReaderTest, ::testing::Bool());

TEST_P(Lz4BlockReaderTest, BlocksDecodeToTheirRawBytes)
{
    // Short and long matches, overlapping runs, long literal runs, and raw
    // sizes that cross the window's edge several times over.
    const std::string text = testing::CompressibleText(1'500'000, 1);
    std::string mixed = text.substr(0, 700'000) + testing::RandomBytes(400'000, 2) + std::string(1'500'000, '\0') +
                        text.substr(100, 800'000);
    std::string periods;
    for (int period = 1; period < 40; ++period)
        for (int i = 0; i < 5000; ++i)
            periods += static_cast<char>('a' + i % period);
    const std::string cases[] = {
        "abcdefghijklmnop" + std::string(40, 'x') + "qrstuvwxyz0123456789",
        std::string(13, 'a'), text.substr(0, 5000), text, mixed, periods,
        std::string(5 * 1024 * 1024 + 17, 'z'),
    };
    for (const std::string& raw : cases) {
        const Bytes block = Compress(raw);
        ASSERT_LT(block.size(), raw.size());
        const std::optional<Bytes> read = Read(block, raw.size());
        ASSERT_TRUE(read) << raw.size();
        EXPECT_TRUE(*read == Bytes(raw.begin(), raw.end())) << raw.size();
    }
}

TEST_P(Lz4BlockReaderTest, ASinkThatSaysNoStopsTheDecoding)
{
    const std::string raw(5'000'000, 'q');
    const Bytes block = Compress(raw);
    int pieces = 0;
    EXPECT_FALSE(reader_.Decode(block, raw.size(), [&](std::span<const std::uint8_t>) { return ++pieces < 2; }));
    EXPECT_EQ(pieces, 2);
}

// --- Damaged blocks -----------------------------------------------------------------

TEST_P(Lz4BlockReaderTest, NoBlockIsTakenThatLz4Refuses)
{
    // Every block the reader takes, LZ4's safe decoder takes too, with the same
    // bytes: blocks with bytes changed, cut short or grown, and other raw sizes.
    const std::string sources[] = {
        testing::CompressibleText(3000, 3), testing::CompressibleText(70'000, 4), std::string(2000, 'a') + "b",
        "0123456789abcdef0123456789abcdef0123",
    };
    std::mt19937 random(20140707);
    int taken = 0;
    int refused = 0;
    for (const std::string& raw : sources) {
        const Bytes good = Compress(raw);
        for (int round = 0; round < 3000; ++round) {
            Bytes block = good;
            std::size_t rawSize = raw.size();
            switch (round % 5) {
            case 0: block[random() % block.size()] ^= static_cast<std::uint8_t>(1 + random() % 255); break;
            case 1: block[random() % block.size()] = static_cast<std::uint8_t>(random()); break;
            case 2: block.resize(random() % block.size()); break;
            case 3: block.push_back(static_cast<std::uint8_t>(random())); break;
            case 4: rawSize = rawSize + (random() % 2 ? 1 : -1) * static_cast<int>(1 + random() % 20); break;
            }
            const std::optional<Bytes> read = Read(block, rawSize);
            const std::optional<Bytes> reference = Reference(block, rawSize);
            if (read) {
                ++taken;
                ASSERT_TRUE(reference) << "round " << round;
                EXPECT_EQ(*read, *reference) << "round " << round;
            } else {
                ++refused;
            }
        }
    }
    // Both kinds came up.
    EXPECT_GT(taken, 100);
    EXPECT_GT(refused, 1000);
}

TEST_P(Lz4BlockReaderTest, EmptyBlocksAndOffsetsOutsideTheBytesAreRefused)
{
    EXPECT_FALSE(Read({}, 10));
    EXPECT_FALSE(Read({0x00}, 0));
    // Five literals, a match of four bytes from five bytes back, and the last
    // eight literals: "abcde" "abcd" "vwxyzVWX".
    const Bytes good = {0x50, 'a', 'b', 'c', 'd', 'e', 0x05, 0x00, 0x80, 'v', 'w', 'x', 'y', 'z', 'V', 'W', 'X'};
    const std::string raw = "abcdeabcdvwxyzVWX";
    ASSERT_EQ(Reference(good, raw.size()), Bytes(raw.begin(), raw.end()));
    EXPECT_EQ(Read(good, raw.size()), Bytes(raw.begin(), raw.end()));
    // From before the first byte; in pieces, from no distance at all too.
    for (const std::uint8_t offset : {6, 0}) {
        Bytes block = good;
        block[6] = offset;
        if (offset != 0 || GetParam()) {
            EXPECT_FALSE(Read(block, raw.size())) << int{offset};
        }
    }
}

}  // namespace
}  // namespace zelkor
