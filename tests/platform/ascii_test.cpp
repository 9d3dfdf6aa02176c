// ASCII letter case, and the name bytes built on it: only A-Z and a-z change,
// whatever the locale, and bytes beyond ASCII never do.
#include "platform/ascii.h"

#include <gtest/gtest.h>

#include "archive/archive_format.h"

namespace zelkor {
namespace {

TEST(AsciiTest, OnlyLettersChangeCase)
{
    struct Row {
        char in, lower, upper, name;
    };
    const Row rows[] = {
        {'@', '@', '@', '@'}, {'A', 'a', 'A', 'a'}, {'Z', 'z', 'Z', 'z'}, {'[', '[', '[', '['},
        {'`', '`', '`', '`'}, {'a', 'a', 'A', 'a'}, {'z', 'z', 'Z', 'z'}, {'{', '{', '{', '{'},
        {'\\', '\\', '\\', '/'}, {'/', '/', '/', '/'}, {'\xC3', '\xC3', '\xC3', '\xC3'}, {'\0', '\0', '\0', '\0'},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(AsciiLower(row.in), row.lower) << int(row.in);
        EXPECT_EQ(AsciiUpper(row.in), row.upper) << int(row.in);
        EXPECT_EQ(NormalNameByte(row.in), row.name) << int(row.in);
    }
    EXPECT_EQ(AsciiLowered("Data\\Textures/ÄBC.PNG"), "data\\textures/Äbc.png");
    EXPECT_EQ(AsciiUppered("con.Txt"), "CON.TXT");
    EXPECT_EQ(NormalizeName("Data\\Textures/ÄBC.PNG"), "data/textures/Äbc.png");
}

}  // namespace
}  // namespace zelkor
