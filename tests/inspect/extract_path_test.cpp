// Which archived names extraction writes, and where.
#include "inspect/extract_path.h"

#include <gtest/gtest.h>

#include "support/system_tests.h"

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
}

TEST(ExtractPathTest, NamesThatDifferOnlyInCaseFoldAlike)
{
    // Whether Windows takes the two names for one file. Elsewhere only ASCII
    // letters fold: the check that asks runs with Windows' names alone.
    const struct {
        const char* one;
        const char* other;
        bool sameOnWindows;
        bool sameElsewhere;
    } cases[] = {
        {"Data/ReadMe.TXT", "data/readme.txt", true, true},
        {"\xC3\xA9t\xC3\xA9.txt", "\xC3\x89T\xC3\x89.TXT", true, false},      // été, ÉTÉ
        {"\xC3\xA4rger/\xC3\x96l", "\xC3\x84RGER/\xC3\xB6L", true, false},     // ärger/Öl
        {"\xD0\xB4\xD0\xB0\xD0\xBD\xD0\xBE", "\xD0\x94\xD0\x90\xD0\x9D\xD0\x9E", true, false},  // Cyrillic
        {"\xCF\x89", "\xCE\xA9", true, false},                                  // ω, Ω
        {"\xEF\xBD\x81", "\xEF\xBC\xA1", true, false},                        // fullwidth a, A
        {"stra\xC3\x9F" "e", "STRASSE", false, false},                         // ß has no one-unit upper case
        {"\xC3\xA9", "e\xCC\x81", false, false},                              // composed and decomposed é
        {"a.txt", "b.txt", false, false},
    };
    for (const auto& c : cases) {
        const bool same = ExtractPath::FoldedCase(c.one) == ExtractPath::FoldedCase(c.other);
        EXPECT_EQ(same, testing::OnWindows ? c.sameOnWindows : c.sameElsewhere) << c.one << " " << c.other;
    }
}

}  // namespace
}  // namespace zelkor
