// zelkor-inspect report: page text that no name can break, the grouping by
// extension, and the page as a file: written beside and renamed, never over the
// archive, light and quick for a million entries.
#include <chrono>
#include <regex>

#include <gtest/gtest.h>

#include "inspect/report_command.h"
#include "report/html_text.h"
#include "inspect_fixture.h"
#include "support/system_tests.h"

namespace zelkor {
namespace {

using testing::Count;
using testing::ToolRun;

TEST(HtmlTextTest, NamesBecomeTextThatNoParserRejects)
{
    struct Case {
        std::string name;
        std::size_t limit;
        std::string text;
    };
    const std::vector<Case> cases = {
        {"data/readme.txt", 100, "data/readme.txt"},
        {"a&b<c>\"d\"'e'", 100, "a&amp;b&lt;c&gt;&quot;d&quot;&#39;e&#39;"},
        {"tab\there\x01\x7f", 100, "tab\\x09here\\x01\\x7f"},
        {"\xc2\x9b" "esc", 100, "\\xc2\\x9besc"},           // a C1 control as UTF-8
        {"\xe2\x80\xae" "fdp.exe", 100, "\\xe2\\x80\\xaefdp.exe"},  // a right-to-left override
        {"caf\xc3\xa9 \xe6\x97\xa5", 100, "caf\xc3\xa9 \xe6\x97\xa5"},  // UTF-8 stays
        {"bad\xff\xfe", 100, "bad\xef\xbf\xbd\xef\xbf\xbd"},  // bytes outside UTF-8
        {"non\xef\xbf\xbe\xef\xb7\x90\xf0\x9f\xbf\xbf", 100,  // U+FFFE, U+FDD0, U+1FFFF
         "non\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd"},
        {"", 10, ""},
        // Cut at a whole character or reference, with an ellipsis, within the limit.
        {"abcdefghij", 10, "abcdefghij"},
        {"abcdefghijk", 10, "abcdefg\xe2\x80\xa6"},
        {"&&&&&", 12, "&amp;\xe2\x80\xa6"},
        {"\xe6\x97\xa5\xe6\x97\xa5\xe6\x97\xa5", 8, "\xe6\x97\xa5\xe2\x80\xa6"},
        {"abc", 0, "\xe2\x80\xa6"},
    };
    for (const Case& c : cases) {
        const std::string text = HtmlName(c.name, c.limit);
        EXPECT_EQ(text, c.text) << ::testing::PrintToString(c.name);
        EXPECT_LE(text.size(), std::max<std::size_t>(c.limit, 3)) << ::testing::PrintToString(c.name);
    }
    EXPECT_EQ(HtmlEscape("<a href='x'>&</a>"), "&lt;a href=&#39;x&#39;&gt;&amp;&lt;/a&gt;");
}

TEST(ReportExtensionTest, TheLastComponentAfterItsLastDot)
{
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"textures/logo.PNG", "png"},   {"a.tar.gz", "gz"},       {"dir.d/file", ""},
        {"dir.d\\file", ""},            {".gitignore", ""},       {"data/.hidden", ""},
        {"trailing.", ""},              {"no extension", ""},     {"x.0123456789abcdef", "0123456789abcdef"},
        {"x.0123456789abcdefg", ""},    {"", ""},                 {"..", ""},
        {"a/b.Tx\xc3\x84", "tx\xc3\x84"},
    };
    for (const auto& [name, extension] : cases)
        EXPECT_EQ(ReportCommand::Extension(name), extension) << name;
}

class ReportTest : public testing::InspectTest {
protected:
    void SetUp() override { WriteSources(); }

    // The data-value of the totals row `key`.
    static std::string Total(const std::string& page, const std::string& key)
    {
        const std::regex row("<tr data-key=\"" + key + "\"><th>[^<]*</th><td class=\"n\" data-value=\"([^\"]*)\"");
        std::smatch match;
        return std::regex_search(page, match, row) ? match[1].str() : "(missing)";
    }

    // The files beside `relative` whose names say they are being written.
    std::vector<std::string> Temporaries() const
    {
        std::vector<std::string> found;
        for (const auto& item : std::filesystem::directory_iterator(dir_.path())) {
            if (item.path().filename().string().find(".zelkor-") != std::string::npos)
                found.push_back(item.path().filename().string());
        }
        return found;
    }
};

TEST_F(ReportTest, WritesOnePageBesideTheArchive)
{
    Pack("a.pak", true);
    ToolRun run = Inspect({"report", "a.pak"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    EXPECT_TRUE(std::regex_match(run.out, std::regex("report of a\\.pak with key file a\\.pak\\.zlk: 4 entries, "
                                                     "[0-9]+ rectangles, in a\\.pak\\.html \\([0-9.]+ KiB\\)\n")))
        << run.out;
    const std::string page = dir_.Read("a.pak.html");
    EXPECT_EQ(page.rfind("<!DOCTYPE html>\n", 0), 0u);
    EXPECT_EQ(Total(page, "entries"), "4");
    std::uint64_t raw = 0;
    for (const auto& [name, content] : sources_)
        raw += content.size();
    EXPECT_EQ(Total(page, "rawBytes"), std::to_string(raw));
    // The noise of Logo.png, the short readme and the empty file are stored raw.
    EXPECT_EQ(Total(page, "storedRaw"), "3");
    for (const std::string name : {"textures/Logo.png", "levels/deep/er/level1.txt", "readme.txt"})
        EXPECT_NE(page.find("<title>" + name + ", "), std::string::npos) << name;
    // Nothing is loaded from anywhere, and nothing runs.
    for (const std::string outside : {"<script", "<link", "src=", "href=", "url(", "@import"})
        EXPECT_EQ(page.find(outside), std::string::npos) << outside;
    EXPECT_NE(page.find("content=\"default-src 'none'"), std::string::npos);
    EXPECT_TRUE(Temporaries().empty());

    // -o names another page; an existing one is replaced whole.
    dir_.Write("old.html", "an older page");
    run = Inspect({"report", "a.pak", "-o", "old.html", "textures/*"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find(": 1 matching entry, "), std::string::npos) << run.out;
    EXPECT_EQ(Total(dir_.Read("old.html"), "entries"), "1");

    // A pattern that matches nothing is named, and the page is still written.
    run = Inspect({"report", "a.pak", "-o", "none.html", "*.psd"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "zelkor-inspect: no entry matches *.psd\n");
    EXPECT_NE(dir_.Read("none.html").find("id=\"map-empty\""), std::string::npos);
}

TEST_F(ReportTest, WithoutAKeyFileThePageSaysTheNamesAreUnknown)
{
    Pack("a.pak", false);
    ToolRun run = Inspect({"report", "a.pak"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("a.pak without a key file: 4 entries"), std::string::npos) << run.out;
    const std::string page = dir_.Read("a.pak.html");
    EXPECT_NE(page.find("id=\"names-unknown\""), std::string::npos);
    EXPECT_EQ(page.find("id=\"extensions\""), std::string::npos);
    // Flat: every entry with stored bytes is a file at the top, by name hash.
    for (const std::string name : {"textures/Logo.png", "levels/deep/er/level1.txt", "readme.txt"}) {
        EXPECT_NE(page.find("<title>" + Hex32(NameHash(name)) + ", "), std::string::npos) << name;
        EXPECT_EQ(page.find(name), std::string::npos) << name;
    }
    EXPECT_EQ(page.find("class=\"d0\""), std::string::npos);

    run = Inspect({"report", "a.pak", "*.png"});
    EXPECT_EQ(run.status, 2);
    EXPECT_NE(run.err.find("patterns select entries by name"), std::string::npos) << run.err;
}

TEST_F(ReportTest, NeverReplacesTheArchiveAndFailsWithoutLeavingAnything)
{
    Pack("a.pak", true);
    const std::string archive = dir_.Read("a.pak");
    const std::string key = dir_.Read("a.pak.zlk");
    std::vector<std::pair<std::string, std::string>> targets{{"a.pak", "the archive itself"},
                                                             {"a.pak.zlk", "the archive's key file"}};
    if (testing::MakeSymlink("a.pak", dir_ / "link.pak"))
        targets.emplace_back("./link.pak", "the archive itself");
    for (const auto& [target, what] : targets) {
        const ToolRun run = Inspect({"report", "a.pak", "-o", target});
        EXPECT_EQ(run.status, 2) << target;
        EXPECT_EQ(run.err, "zelkor-inspect: not writing the page over " + target + ", " + what +
                               "; name another file with -o\n");
        EXPECT_EQ(run.out, "");
    }
    EXPECT_EQ(dir_.Read("a.pak"), archive);
    EXPECT_EQ(dir_.Read("a.pak.zlk"), key);

    ToolRun run = Inspect({"report", "a.pak", "-o", "missing/page.html"});
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.err, "zelkor-inspect: cannot create missing/page.html\n");
    std::filesystem::create_directory(dir_ / "dir.html");
    run = Inspect({"report", "a.pak", "-o", "dir.html"});
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.err, "zelkor-inspect: cannot create dir.html\n");
    EXPECT_TRUE(Temporaries().empty());

    run = Inspect({"report", "missing.pak"});
    EXPECT_EQ(run.status, 2);
    EXPECT_FALSE(std::filesystem::exists(dir_ / "missing.pak.html"));
}

TEST_F(ReportTest, HostileNamesKeepThePageLight)
{
    // 2,000 names of 4,000 bytes that each need a reference per byte.
    CraftRecords("names.pak", 2000, [](std::size_t i) {
        return Record{std::string(4000, i % 2 ? '&' : '<') + std::to_string(i), 4000, 4000};
    });
    const ToolRun run = Inspect({"report", "names.pak"});
    ASSERT_EQ(run.status, 0) << run.err;
    const std::string page = dir_.Read("names.pak.html");
    EXPECT_LT(page.size(), 2u << 20);
    EXPECT_EQ(page.find("<&"), std::string::npos);
    EXPECT_EQ(page.find("<<"), std::string::npos);
    EXPECT_GT(Count(page, "&lt;&lt;&lt;"), 1000u);
}

TEST_F(ReportTest, AMillionEntriesGiveALightPageQuickly)
{
    // A million small entries in 40,000 folders of 25 files, with sizes spread
    // from 1 to 41 stored bytes, and a few large files stored raw.
    constexpr std::size_t Entries = 1000000;
    CraftRecords("big.pak", Entries, [](std::size_t i) {
        const std::uint32_t stored = static_cast<std::uint32_t>(i * 2654435761u % 41 + 1);
        const bool large = i % 50000 == 7;
        return Record{"assets/set" + std::to_string(i % 400) + "/group" + std::to_string(i / 400 % 100) + "/file" +
                          std::to_string(i) + (i % 3 ? ".png" : ".txt"),
                      large ? 70000u : stored * 3, large ? 70000u : stored};
    });
    const auto start = std::chrono::steady_clock::now();
    const ToolRun run = Inspect({"report", "big.pak"});
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    ASSERT_EQ(run.status, 0) << run.err;
    const std::string page = dir_.Read("big.pak.html");
    EXPECT_LT(page.size(), 5u * 1000 * 1000);
    EXPECT_LE(Count(page, "<rect "), 10000u);
    EXPECT_GT(Count(page, "<rect "), 400u);
    EXPECT_EQ(Total(page, "entries"), "1000000");
    EXPECT_EQ(Total(page, "storedRaw"), "20");
    EXPECT_NE(page.find("data-files=\"20\""), std::string::npos);
    const ToolRun list = Inspect({"list", "big.pak"});
    ASSERT_EQ(list.status, 0);
#ifndef ZELKOR_SANITIZED
    // Sanitized builds run several times slower and keep freed memory.
    EXPECT_LT(seconds, 10) << "the report of a million entries took " << seconds << " s";
    EXPECT_LT(run.peakResidentKiB - list.peakResidentKiB, 32 * 1024)
        << run.peakResidentKiB << " KiB against list's " << list.peakResidentKiB;
#endif
    ::testing::Test::RecordProperty("seconds", std::to_string(seconds));
    ::testing::Test::RecordProperty("pageBytes", std::to_string(page.size()));
    ::testing::Test::RecordProperty("peakResidentKiB", std::to_string(run.peakResidentKiB));
}

}  // namespace
}  // namespace zelkor
