// The frame of the small record files: magic and version first, XXH64 of all
// before it last, and any changed byte breaks the seal.
#include "archive/record_frame.h"

#include <gtest/gtest.h>
#include <xxhash.h>

#include "platform/little_endian.h"

namespace zelkor {
namespace {

TEST(RecordFrameTest, SealCoversEveryByteBeforeIt)
{
    std::vector<std::uint8_t> bytes(13, 0xA5);
    RecordFrame::Begin(bytes, 0x4D4C4B5A, 7);
    RecordFrame::Seal(bytes);
    ASSERT_EQ(bytes.size(), 13 + RecordFrame::ChecksumSize);
    EXPECT_EQ(std::vector<std::uint8_t>(bytes.begin(), bytes.begin() + 8),
              (std::vector<std::uint8_t>{0x5A, 0x4B, 0x4C, 0x4D, 7, 0, 0, 0}));
    EXPECT_EQ(DecodeFixed64(&bytes[13]), XXH64(bytes.data(), 13, 0));
    EXPECT_EQ(RecordFrame::Magic(bytes), 0x4D4C4B5Au);
    EXPECT_EQ(RecordFrame::Version(bytes), 7u);
    EXPECT_TRUE(RecordFrame::Sealed(bytes));
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        std::vector<std::uint8_t> changed = bytes;
        changed[i] ^= 0x01;
        EXPECT_FALSE(RecordFrame::Sealed(changed)) << "byte " << i;
    }
    // Cut short by a byte, the checksum is read from the wrong place.
    EXPECT_FALSE(RecordFrame::Sealed(std::span(bytes).first(bytes.size() - 1)));
}

}  // namespace
}  // namespace zelkor
