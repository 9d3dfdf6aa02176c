// UTF-8 at the edges of what is written: a sequence cut short at the end of a
// piece of output waits for its rest.
#include "platform/utf8.h"

#include <gtest/gtest.h>

namespace zelkor {
namespace {

TEST(Utf8Test, ASequenceCutShortAtTheEndIsNotFinished)
{
    const struct {
        std::string_view bytes;
        std::size_t finished;
    } cases[] = {
        {"", 0},
        {"abc", 3},
        {"ab\xC3", 2},                 // é's lead alone
        {"ab\xC3\xA9", 4},             // é
        {"\xE7\xBC", 0},               // two of 缓's three bytes
        {"\xE7\xBC\x93", 3},
        {"a\xF0\x9F\x98", 1},          // three of an emoji's four
        {"a\xF0\x9F\x98\x80", 5},
        {"\x80\x80\x80\x80", 4},       // no lead: nothing to wait for
        {"a\xFF", 2},                  // never a byte of UTF-8: nothing to wait for
        {"\xC3\xA9\xE7", 2},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Utf8FinishedLength(c.bytes), c.finished) << testing::PrintToString(std::string(c.bytes));
}

}  // namespace
}  // namespace zelkor
