// Key material derived from a key seed, checked against an independent HKDF
// computation, and the rules for the seed file.
#include "archive/archive_crypto.h"

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include <algorithm>
#include <numeric>
#include <vector>

#include <gtest/gtest.h>

#include "platform/hex.h"
#include "support/system_tests.h"
#include "support/temp_dir.h"

namespace zelkor {
namespace {

std::string Hex(const Share& share)
{
    return HexBytes(std::string_view(reinterpret_cast<const char*>(share.data()), share.size()));
}

std::vector<std::string> Blocks(const KeyMaterial& material)
{
    return {Hex(material.archiveKeyShare), Hex(material.archiveIvShare), Hex(material.keyFileKeyShare),
            Hex(material.keyFileIvShare)};
}

TEST(KeyMaterialTest, FromSeedIsHkdfSha256InTheOrderTheBlocksAreDrawn)
{
    // Computed with Python's hmac module: PRK = HMAC-SHA256(32 zero bytes, seed),
    // then T(1) to T(4) over the info "Zelkor archive key material v1".
    std::vector<std::uint8_t> seed(64);
    std::iota(seed.begin(), seed.end(), 0);
    EXPECT_EQ(Blocks(KeyMaterial::FromSeed(seed)),
              (std::vector<std::string>{
                  "0b7a2f6a6407f56ae95a9313b03680db80eebebfffd72a7a05221a190c5af07e",
                  "917ba3f110b9a24f67d5c0ff3fecd63b517b811f71732591ff7b77a404e0fe29",
                  "eaca54a2d4f6e4c61290ce531d4494ce0eb04e4b4c8c4899d1546205073a64b3",
                  "76b0adff8f9a0748451ba9a2f3fd91b61f7060cd2d04a3644b56ea4456a52f59",
              }));
    // Every byte of the seed counts.
    std::vector<std::uint8_t> other = seed;
    other.back() ^= 1;
    EXPECT_NE(Blocks(KeyMaterial::FromSeed(other)), Blocks(KeyMaterial::FromSeed(seed)));
}

TEST(KeyMaterialTest, SeedFilesAreRegularFilesOfBoundedSize)
{
    testing::TempDir dir;
    std::filesystem::create_directory(dir / "directory");
#ifndef _WIN32
    ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
#endif
    const std::vector<std::pair<std::string, std::size_t>> files = {
        {"empty", 0},
        {"short", MinKeySeedSize - 1},
        {"shortest", MinKeySeedSize},
        {"held", MinKeySeedSize},
        {"longest", MaxKeySeedSize},
        {"long", MaxKeySeedSize + 1},
    };
    for (const auto& [name, size] : files) {
        std::string content(size, '\0');
        for (std::size_t i = 0; i < size; ++i)
            content[i] = static_cast<char>(i * 7 + size);
        dir.Write(name, content);
    }
    std::vector<std::pair<std::string, bool>> cases = {
        {"empty", false},  {"short", false},    {"shortest", true}, {"longest", true},
        {"long", false},   {"missing", false},  {"directory", false},
    };
    // A FIFO, which would block a reader; on Windows, a file another program
    // holds without sharing it.
    cases.emplace_back(testing::OnWindows ? "held" : "fifo", false);
    std::optional<testing::ExclusiveHold> hold;
    if (testing::OnWindows)
        hold.emplace(dir / "held");
    for (const auto& [name, readable] : cases) {
        const std::optional<KeyMaterial> material = KeyMaterial::FromSeedFile((dir / name).string());
        ASSERT_EQ(material.has_value(), readable) << name;
        if (readable) {
            const std::string content = dir.Read(name);
            EXPECT_EQ(Blocks(*material),
                      Blocks(KeyMaterial::FromSeed(std::span(
                          reinterpret_cast<const std::uint8_t*>(content.data()), content.size()))))
                << name;
        }
    }
}

TEST(ArchiveKeyTest, AStreamInPiecesEncryptsAsTheWholeDoes)
{
    ArchiveKey key;
    std::iota(key.key.begin(), key.key.end(), 1);
    std::iota(key.iv.begin(), key.iv.end(), 100);
    std::vector<std::uint8_t> whole(100'003);
    std::iota(whole.begin(), whole.end(), 7);
    std::vector<std::uint8_t> pieces = whole;
    key.Encrypt(whole);
    // Pieces of odd lengths, so that the cipher's blocks straddle them.
    ArchiveKey::Stream stream(key);
    for (std::size_t at = 0, length = 1; at < pieces.size(); at += length, length = length * 3 + 5)
        stream.Encrypt(std::span(pieces).subspan(at, std::min(length, pieces.size() - at)));
    EXPECT_TRUE(pieces == whole);
}

}  // namespace
}  // namespace zelkor
