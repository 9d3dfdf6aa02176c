// Several scripts in one run: each is executed on its own, and a failure in one
// does not damage what the others write.
#include <filesystem>
#include <map>
#include <set>
#include <sstream>

#include <gtest/gtest.h>

#include "processor_fixture.h"

namespace zelkor {
namespace {

using testing::ArchivedContents;
using testing::FileElement;
using testing::ToolRun;
using Names = std::vector<std::string>;

class RunTest : public testing::ProcessorTest {};

TEST_F(RunTest, FiveScriptsBuildFiveArchives)
{
    std::vector<std::string> scripts;
    for (int i = 0; i < 5; ++i) {
        const std::string n = std::to_string(i);
        dir_.Write("src/" + n, std::string(1000 + i, static_cast<char>('a' + i)));
        WriteScript("s" + n + ".xml", "<CreateOrvanPack ArchivePath=\"a" + n + ".pak\" BuildKeyfile=\"true\">" +
                                          FileElement("f", "src/" + n) + "</CreateOrvanPack>");
        scripts.push_back("s" + n + ".xml");
    }
    ToolRun run = Run(scripts);
    EXPECT_EQ(run.out, testing::Banner(5));
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.status, 0);
    for (int i = 0; i < 5; ++i) {
        const std::string n = std::to_string(i);
        EXPECT_EQ(ArchivedContents(Archive("a" + n + ".pak", "a" + n + ".pak.zlk")),
                  Names{std::string(1000 + i, static_cast<char>('a' + i))});
    }
}

TEST_F(RunTest, OneFailingScriptEndsTheRunWithoutDamagingOthers)
{
    dir_.Write("src/x", std::string(100000, 'x'));
    WriteScript("bad.xml", "<CreateOrvanPack/>");
    std::string files;
    for (char name = 'a'; name < 'a' + 20; ++name)
        files += FileElement(std::string(1, name), "src/x");
    WriteScript("good.xml", "<CreateOrvanPack ArchivePath=\"good.pak\">" + files + "</CreateOrvanPack>");

    // On one thread the scripts run in the order given: the good script ran to
    // its end before the bad one failed, or never started. Either way nothing
    // half-written is left beside the scripts.
    struct Case {
        std::string first;
        std::string second;
        bool written;
    };
    for (const Case& c : {Case{"good.xml", "bad.xml", true}, Case{"bad.xml", "good.xml", false}}) {
        SCOPED_TRACE(c.first);
        std::filesystem::remove(dir_ / "good.pak");
        ToolRun run =
            testing::RunProgram("/usr/bin/env", {"ZELKOR_THREADS=1", ZELKOR_BINARY, c.first, c.second}, dir_.path());
        EXPECT_EQ(run.err, "No such node (<xmlattr>.ArchivePath)\n");
        EXPECT_EQ(run.status, 2);
        std::set<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(dir_.path()))
            names.insert(entry.path().filename().string());
        std::set<std::string> expected = {"bad.xml", "good.xml", "src"};
        if (c.written) {
            expected.insert("good.pak");
            EXPECT_EQ(Archive("good.pak").size(), 20u);
        }
        EXPECT_EQ(names, expected);
    }
}

TEST_F(RunTest, WarningsOfSeveralScriptsStayWholeLines)
{
    std::string files;
    for (int i = 0; i < 200; ++i)
        files += FileElement("m", "missing/file-with-a-longish-name-" + std::to_string(i));
    WriteScript("a.xml", "<CreateOrvanPack ArchivePath=\"a.pak\">" + files + "</CreateOrvanPack>");
    WriteScript("b.xml", "<CreateOrvanPack ArchivePath=\"b.pak\">" + files + "</CreateOrvanPack>");
    ToolRun run = Run({"a.xml", "b.xml"});
    EXPECT_EQ(run.status, 3);  // neither archive is written: none of its files could be stored

    std::map<std::string, int> seen;
    std::istringstream lines(run.err);
    for (std::string line; std::getline(lines, line);)
        ++seen[line];
    for (const char* archive : {"a.pak", "b.pak"})
        EXPECT_EQ(seen.erase(std::string(archive) + " not written: none of its 200 files could be stored!"), 1u);
    ASSERT_EQ(seen.size(), 200u);
    for (const auto& [line, count] : seen) {
        EXPECT_EQ(line.rfind("Cannot compress missing/file-with-a-longish-name-", 0), 0u) << line;
        EXPECT_EQ(count, 2) << line;
    }
}

}  // namespace
}  // namespace zelkor
