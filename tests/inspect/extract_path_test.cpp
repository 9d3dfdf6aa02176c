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
        const ExtractPath path = ExtractPath::Parse(c.name, false);  // the POSIX rules
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

// Names Windows would misread: refused under its rules, with the component
// named, and written as they are under the POSIX rules.
TEST(ExtractPathTest, WindowsRulesRefuseNamesWindowsWouldMisread)
{
    const struct {
        std::string name;
        std::string reason;     // empty: accepted under Windows' rules too
        std::string component;  // the component the refusal names
    } cases[] = {
        {"CON", "device", "CON"},
        {"con.txt", "device", "con.txt"},
        {"dir/Nul.tar.gz", "device", "Nul.tar.gz"},
        {"aux/readme.txt", "device", "aux"},
        {"PRN ", "device", "PRN "},
        {"lpt9.log", "device", "lpt9.log"},
        {"a/COM1", "device", "COM1"},
        {"com0", "", ""},
        {"COM10.txt", "", ""},
        {"console.txt", "", ""},
        {"nul_", "", ""},
        {"file.txt:stream", "colon", "file.txt:stream"},
        {"a/b:c", "colon", "b:c"},
        {"trailing.", "dot or a space", "trailing."},
        {"dir./f", "dot or a space", "dir."},
        {"...", "dot or a space", "..."},
        {"space /f", "dot or a space", "space "},
        {"q?.txt", "character", "q?.txt"},
        {"a|b", "character", "a|b"},
        {"tab\tname", "character", "tab\tname"},
        {"\xC3\xA9t\xC3\xA9.txt", "", ""},
        {".hidden", "", ""},
        {"a.b.c", "", ""},
    };
    for (const auto& c : cases) {
        const ExtractPath windows = ExtractPath::Parse(c.name, true);
        if (c.reason.empty()) {
            EXPECT_FALSE(windows.IsRefused()) << c.name << ": " << windows.Refusal();
        } else {
            EXPECT_TRUE(windows.IsRefused()) << c.name;
            EXPECT_NE(windows.Refusal().find(c.reason), std::string::npos) << c.name << ": " << windows.Refusal();
            EXPECT_NE(windows.Refusal().find("(" + c.component + ")"), std::string::npos) << c.name;
        }
        EXPECT_FALSE(ExtractPath::Parse(c.name, false).IsRefused()) << c.name;
    }
    EXPECT_EQ(ExtractPath::FoldedCase("Data/ReadMe.TXT"), "data/readme.txt");
    EXPECT_EQ(ExtractPath::FoldedCase("\xC3\x89"), "\xC3\x89");  // only ASCII letters fold
}

}  // namespace
}  // namespace zelkor
