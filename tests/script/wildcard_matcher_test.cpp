// Wildcard matching and the ignore filter of generated scripts.
#include "script/wildcard_matcher.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace zelkor {
namespace {

using Paths = std::vector<std::string>;


// "*" matches any run (slashes included), "?" one character, everything else
// itself, case-sensitive; the whole path must be matched.
struct WildcardCase {
    const char* pattern;
    const char* text;
    bool matches;
};

const WildcardCase WildcardCases[] = {
    {"*.psd", "art/deep/a.psd", true},    {"*.psd", "a.psd.bak", false},
    {"Thumbs.db", "sub/Thumbs.db", false}, {"*/Thumbs.db", "a/b/Thumbs.db", true},
    {"*/Thumbs.db", "Thumbs.db", false},   {"*Thumbs.db", "myThumbs.db", true},
    {"temp/*", "temp/x/y.txt", true},      {"temp/*", "temp", false},
    {"temp/*", "a/temp/x", false},         {"?.txt", "a.txt", true},
    {"?.txt", "d/a.txt", false},           {"?.txt", ".txt", false},
    {"*", "", true},                       {"", "", true},
    {"", "a", false},                      {"a*b*c", "abc", true},
    {"a*b*c", "aXbYc", true},              {"a*b*c", "acb", false},
    {"a*b*c", "abcbc", true},              {"a*b*c", "abcx", false},
    {"*.PNG", "a.png", false},             {"a?", "a", false},
    {"a**", "a", true},                    {"*?", "", false},
    {"*aab", "aaab", true},                {"*x*y", "xxyxy", true},
    {"a\\b", "a/b", false},                {"ab", "abc", false},
};

TEST(MatchWildcardTest, Table)
{
    for (const WildcardCase& c : WildcardCases) {
        EXPECT_EQ(MatchWildcard(c.text, c.pattern), c.matches)
            << "pattern \"" << c.pattern << "\", text \"" << c.text << "\"";
        EXPECT_EQ(MatchWildcard(std::string_view(c.text), std::string_view(c.pattern)), c.matches)
            << "pattern \"" << c.pattern << "\", text \"" << c.text << "\"";
    }
    // Counted strings: a NUL byte is a character like any other.
    const std::string_view nul("a\0b", 3);
    EXPECT_TRUE(MatchWildcard(nul, "a*"));
    EXPECT_TRUE(MatchWildcard(nul, "a?b"));
    EXPECT_FALSE(MatchWildcard(nul, "a"));
    EXPECT_FALSE(MatchWildcard(nul, "ab"));
    EXPECT_TRUE(MatchWildcard(nul, nul));
}

TEST(MatchWildcardTest, LongTextsEndQuickly)
{
    // One saved backtracking point keeps this linear-ish; a naive recursive
    // matcher would take forever here.
    const std::string text(5000, 'a');
    EXPECT_FALSE(MatchWildcard(text.c_str(), "*a*a*a*a*a*a*a*a*b"));
    EXPECT_TRUE(MatchWildcard(text.c_str(), "*a*a*a*a*a*a*a*a*a"));
}

TEST(ApplyIgnorePatternsTest, RemovesEveryMatchAndKeepsTheOrder)
{
    using Used = std::vector<bool>;
    Paths paths = {"Thumbs.db", "b.psd", "z.txt", "sub/Thumbs.db", "a.txt", "b.psd", "temp/x/y"};
    // A pattern that matches only what an earlier one removed counts as used.
    EXPECT_EQ(ApplyIgnorePatterns(paths, {"*.psd", "*/Thumbs.db", "temp/*", "b.*", "*.psd", "*.jpg"}),
              (Used{true, true, true, true, true, false}));
    EXPECT_EQ(paths, (Paths{"Thumbs.db", "z.txt", "a.txt"}));

    EXPECT_EQ(ApplyIgnorePatterns(paths, {}), Used{});
    EXPECT_EQ(paths, (Paths{"Thumbs.db", "z.txt", "a.txt"}));
    EXPECT_EQ(ApplyIgnorePatterns(paths, {"", "Z.TXT", " a.txt"}), (Used{false, false, false}));
    EXPECT_EQ(paths, (Paths{"Thumbs.db", "z.txt", "a.txt"}));
    ApplyIgnorePatterns(paths, {"*"});
    EXPECT_TRUE(paths.empty());
}

}  // namespace
}  // namespace zelkor
