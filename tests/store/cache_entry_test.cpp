// The cache entry codec, without a disk: the layout field by field, the round
// trip, and every damaged form that Decode must recognise.
#include "store/cache_entry.h"

#include <cstring>
#include <vector>

#include <gtest/gtest.h>
#include <xxhash.h>

#include "archive/archive_format.h"
#include "support/test_data.h"

namespace zelkor {
namespace {

using Bytes = std::vector<std::uint8_t>;

CacheKey KeyOf(const std::string& raw)
{
    std::uint32_t hash = 0;
    return CacheKey::Of(std::span(reinterpret_cast<const std::uint8_t*>(raw.data()), raw.size()), hash);
}

Bytes Entry(const CacheKey& key, std::uint64_t rawSize, const Bytes& block)
{
    const CacheEntry::Header header = CacheEntry::Encode(key, rawSize, block);
    Bytes entry(header.size() + block.size());
    std::copy(header.begin(), header.end(), entry.begin());
    std::copy(block.begin(), block.end(), entry.begin() + static_cast<std::ptrdiff_t>(header.size()));
    return entry;
}

class CacheEntryTest : public ::testing::Test {
protected:
    CacheEntry::Status Decode(const Bytes& entry, std::uint64_t rawSize = 5000)
    {
        block_ = {};
        return CacheEntry::Decode(entry, key_, rawSize, block_);
    }

    const CacheKey key_ = KeyOf(std::string(5000, 'b'));
    const Bytes block_bytes_ = Bytes(1000, 'c');
    std::span<const std::uint8_t> block_;
};

TEST_F(CacheEntryTest, LayoutFieldByField)
{
    const Bytes entry = Entry(key_, 5000, block_bytes_);
    ASSERT_EQ(entry.size(), CacheEntry::HeaderSize + 1000);
    EXPECT_EQ(std::string(entry.begin(), entry.begin() + 4), "ZKCE");
    EXPECT_EQ(DecodeFixed32(&entry[CacheEntry::VersionAt]), CacheEntry::Version);
    EXPECT_TRUE(std::equal(key_.bytes.begin(), key_.bytes.end(), entry.begin() + CacheEntry::KeyAt));
    EXPECT_EQ(DecodeFixed64(&entry[CacheEntry::RawSizeAt]), 5000u);
    EXPECT_EQ(DecodeFixed64(&entry[CacheEntry::BlockSizeAt]), 1000u);
    EXPECT_EQ(DecodeFixed32(&entry[CacheEntry::FlagsAt]), CacheEntry::Compressed);
    EXPECT_EQ(DecodeFixed32(&entry[CacheEntry::ReservedAt]), 0u);
    // The checksum: XXH64 of the header with the checksum field zero, then the block.
    Bytes zeroed = entry;
    std::fill_n(zeroed.begin() + CacheEntry::ChecksumAt, 8, 0);
    EXPECT_EQ(DecodeFixed64(&entry[CacheEntry::ChecksumAt]), XXH64(zeroed.data(), zeroed.size(), 0));
}

TEST_F(CacheEntryTest, EntriesRoundTrip)
{
    const Bytes entry = Entry(key_, 5000, block_bytes_);
    ASSERT_EQ(Decode(entry), CacheEntry::Status::Ok);
    EXPECT_EQ(Bytes(block_.begin(), block_.end()), block_bytes_);
    EXPECT_EQ(block_.data(), entry.data() + CacheEntry::HeaderSize);
    // Without a block: compression did not pay. Any raw size, none included.
    for (const std::uint64_t rawSize : {0u, 1u, 5000u}) {
        ASSERT_EQ(Decode(Entry(key_, rawSize, {}), rawSize), CacheEntry::Status::Ok) << rawSize;
        EXPECT_TRUE(block_.empty());
    }
    EXPECT_EQ(CacheEntry::MaxSize(5000), CacheEntry::HeaderSize + 4999);
    EXPECT_EQ(CacheEntry::MaxSize(0), CacheEntry::HeaderSize);
}

// --- Damaged forms -----------------------------------------------------------------

TEST_F(CacheEntryTest, EveryDamagedFormIsRecognised)
{
    using Status = CacheEntry::Status;
    const Bytes good = Entry(key_, 5000, block_bytes_);
    // One byte changed in each field, and in the block.
    const struct {
        std::size_t at;
        Status status;
    } flips[] = {
        {CacheEntry::MagicAt, Status::BadMagic},       {CacheEntry::VersionAt, Status::OtherVersion},
        {CacheEntry::KeyAt, Status::OtherKey},         {CacheEntry::KeyAt + 31, Status::OtherKey},
        {CacheEntry::RawSizeAt, Status::OtherRawSize}, {CacheEntry::BlockSizeAt, Status::BadBlockSize},
        {CacheEntry::FlagsAt, Status::BadFlags},       {CacheEntry::FlagsAt + 1, Status::BadFlags},
        {CacheEntry::ReservedAt, Status::BadFlags},    {CacheEntry::ChecksumAt, Status::BadChecksum},
        {CacheEntry::HeaderSize, Status::BadChecksum}, {good.size() - 1, Status::BadChecksum},
    };
    for (const auto& flip : flips) {
        Bytes entry = good;
        entry[flip.at] ^= 0x01;
        EXPECT_EQ(Decode(entry), flip.status) << "byte " << flip.at << ": " << CacheEntry::Describe(Decode(entry));
    }
    // Cut short or made longer, anywhere.
    for (const std::size_t size : {std::size_t{0}, std::size_t{4}, CacheEntry::HeaderSize - 1}) {
        EXPECT_EQ(Decode(Bytes(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(size))), Status::Truncated);
    }
    EXPECT_EQ(Decode(Bytes(good.begin(), good.end() - 1)), Status::BadBlockSize);
    Bytes longer = good;
    longer.push_back(0);
    EXPECT_EQ(Decode(longer), Status::BadBlockSize);
    // Asked for under another key or raw size.
    block_ = {};
    EXPECT_EQ(CacheEntry::Decode(good, KeyOf("other"), 5000, block_), Status::OtherKey);
    EXPECT_EQ(Decode(good, 4999), Status::OtherRawSize);
}

TEST_F(CacheEntryTest, WellFormedEntriesThatContradictThemselvesAreRefused)
{
    using Status = CacheEntry::Status;
    // Checksums made right over contradictions: a block no smaller than the raw
    // bytes, a compressed flag without a block, a block without the flag.
    EXPECT_EQ(Decode(Entry(key_, 1000, block_bytes_), 1000), Status::BlockTooLarge);
    EXPECT_EQ(Decode(Entry(key_, 999, block_bytes_), 999), Status::BlockTooLarge);
    Bytes flagged = Entry(key_, 5000, {});
    EncodeFixed32(&flagged[CacheEntry::FlagsAt], CacheEntry::Compressed);
    EncodeFixed64(&flagged[CacheEntry::ChecksumAt], 0);
    EncodeFixed64(&flagged[CacheEntry::ChecksumAt], XXH64(flagged.data(), flagged.size(), 0));
    EXPECT_EQ(Decode(flagged), Status::BadFlags);
    Bytes unflagged = Entry(key_, 5000, block_bytes_);
    EncodeFixed32(&unflagged[CacheEntry::FlagsAt], 0);
    EncodeFixed64(&unflagged[CacheEntry::ChecksumAt], 0);
    EncodeFixed64(&unflagged[CacheEntry::ChecksumAt], XXH64(unflagged.data(), unflagged.size(), 0));
    EXPECT_EQ(Decode(unflagged), Status::BadFlags);
}

TEST(CacheKeyTest, KeysNameContentSizeAndFormat)
{
    // The key covers the bytes and, after them, their size and the versions: two
    // inputs whose bytes differ only in where they end get different keys.
    const std::string text = testing::CompressibleText(600'000, 5);
    std::uint32_t hash = 0;
    const auto span = [](const std::string& s) {
        return std::span(reinterpret_cast<const std::uint8_t*>(s.data()), s.size());
    };
    const CacheKey whole = CacheKey::Of(span(text), hash);
    EXPECT_EQ(hash, XXH32(text.data(), text.size(), ContentHashSeed));
    EXPECT_NE(KeyOf(text.substr(0, 599'999)), whole);
    // Fed piece by piece, or without the content hash, the same key.
    CacheKey::Hasher hasher;
    hasher.Update(span(text).first(1));
    hasher.Update(span(text).subspan(1, 300'000));
    hasher.Update(span(text).subspan(300'001));
    EXPECT_EQ(hasher.Finish(), whole);
    EXPECT_EQ(CacheKey::Of(span(text)), whole);
    EXPECT_EQ(whole.Hex().size(), 64u);
    EXPECT_EQ(whole.Bucket(), whole.bytes[0]);
}

}  // namespace
}  // namespace zelkor
