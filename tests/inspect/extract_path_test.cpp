// Which archived names extraction writes, and where.
#include "inspect/extract_path.h"

#include <gtest/gtest.h>

namespace zelkor {
namespace {

TEST(ExtractPathTest, SafeNamesBecomeRelativePaths)
{
    const struct {
        std::string name;
        std::string relative;
    } cases[] = {
        {"readme.txt", "readme.txt"},
        {"data/textures/logo.png", "data/textures/logo.png"},
        {"data\\textures\\logo.png", "data/textures/logo.png"},
        {"a//b\\\\c", "a/b/c"},
        {"./a/./b", "a/b"},
        {"...", "..."},
        {"a/..b/c..", "a/..b/c.."},
        {".hidden", ".hidden"},
        {"ab:c", "ab:c"},  // only a single letter before the colon is a drive
        {"a/C:b", "a/C:b"},
        {" spaced name ", " spaced name "},
    };
    for (const auto& c : cases) {
        const ExtractPath path = ExtractPath::Parse(c.name);
        EXPECT_FALSE(path.IsRefused()) << c.name << ": " << path.Refusal();
        EXPECT_EQ(path.Relative(), c.relative) << c.name;
    }
}

TEST(ExtractPathTest, UnsafeNamesAreRefused)
{
    const struct {
        std::string name;
        std::string reason;
    } cases[] = {
        {"", "empty"},
        {std::string("a\0b", 3), "NUL"},
        {"/etc/passwd", "absolute"},
        {"\\windows\\x", "absolute"},
        {"\\\\server\\share\\x", "absolute"},
        {"C:\\x", "drive"},
        {"c:x", "drive"},
        {"z:", "drive"},
        {".\\a:\\x", "drive"},  // a drive once the "." is dropped
        {"//./C:/x", "absolute"},
        {"..", "\"..\""},
        {"../x", "\"..\""},
        {"a/../../x", "\"..\""},
        {"a\\..\\..\\x", "\"..\""},
        {"a/..", "\"..\""},
        {"dir/", "separator"},
        {"dir\\", "separator"},
        {"dir/.", "\".\""},
        {".", "\".\""},
        {"./", "separator"},
    };
    for (const auto& c : cases) {
        const ExtractPath path = ExtractPath::Parse(c.name);
        EXPECT_TRUE(path.IsRefused()) << c.name;
        EXPECT_NE(path.Refusal().find(c.reason), std::string::npos) << c.name << ": " << path.Refusal();
        EXPECT_TRUE(path.Components().empty()) << c.name;
    }
}

}  // namespace
}  // namespace zelkor
