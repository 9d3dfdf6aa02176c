// Several scripts in one run: each is executed on its own, and a failure in one
// does not damage what the others write.
#include <map>
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

    ToolRun run = Run({"good.xml", "bad.xml"});
    EXPECT_EQ(run.err, "No such node (<xmlattr>.ArchivePath)\n");
    EXPECT_EQ(run.status, 2);
    // Whether the good script got to run depends on the threads; if it did, its
    // archive is complete.
    if (Exists("good.pak")) {
        EXPECT_EQ(Archive("good.pak").size(), 20u);
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
