// CreateOrvanPack with PatchOf: what a patch holds when nothing changed, the
// bases it refuses and what that leaves on disk, what `check` says before a
// run, and a patch rebuilt in place.
#include <gtest/gtest.h>

#include "archive/deletion_list.h"
#include "processor_fixture.h"
#include "reader/file_source.h"
#include "reader/indexed_archive.h"

namespace zelkor {
namespace {

using testing::FileElement;
using testing::ToolRun;

class PatchCommandTest : public testing::ProcessorTest {
protected:
    void SetUp() override
    {
        dir_.Write("v1/a.txt", "alpha");
        dir_.Write("v1/b.txt", std::string(3000, 'b'));
        dir_.Write("v1/c.txt", "gamma");
        ASSERT_EQ(RunCommands(Pack("base.pak", "v1", {"a.txt", "b.txt", "c.txt"})).status, 0);
    }

    static std::string Pack(const std::string& archive, const std::string& root, const std::vector<std::string>& names,
                            const std::string& attributes = "")
    {
        std::string command = "  <CreateOrvanPack ArchivePath=\"" + archive + "\" BuildKeyfile=\"true\"" + attributes + ">\n";
        for (const std::string& name : names)
            command += FileElement(name, root + "/" + name);
        return command + "  </CreateOrvanPack>\n";
    }

    static std::string PatchOf(const std::string& base) { return " PatchOf=\"" + base + "\""; }

    DeletionList Deletions(const std::string& patch)
    {
        const std::string bytes = dir_.Read(patch + ".del");
        return DeletionList::Decode(std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()),
                                    patch + ".del");
    }
};

TEST_F(PatchCommandTest, APatchOfAnUnchangedTreeHoldsNothingAndSaysSo)
{
    const ToolRun run = RunCommands(Pack("p.pak", "v1", {"a.txt", "b.txt", "c.txt"}, PatchOf("base.pak")));
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.out, testing::Banner(1) + "p.pak: a patch of base.pak: nothing changed, no entry stored and none deleted\n");
    EXPECT_TRUE(Archive("p.pak", "p.pak.zlk").empty());
    const DeletionList list = Deletions("p.pak");
    EXPECT_TRUE(list.names.empty());
    EXPECT_EQ(list.patch, EntryIdentity().Value());
    EXPECT_EQ(list.base, IndexedArchive(std::make_unique<FileSource>((dir_ / "base.pak").string()), nullptr).Identity());
}

// A base that cannot be read skips the command whole, as a key seed that
// cannot be read does: nothing of it is created, and what stood there stays.
TEST_F(PatchCommandTest, ABaseThatCannotBeReadSkipsTheCommand)
{
    dir_.Write("p.pak", "old patch");
    dir_.Write("p.pak.del", "old list");
    dir_.Write("truncated.pak", dir_.Read("base.pak").substr(0, 80));
    dir_.Write("truncated.pak.zlk", dir_.Read("base.pak.zlk"));
    dir_.Write("lone.pak", dir_.Read("base.pak"));
    ASSERT_EQ(RunCommands(Pack("other.pak", "v1", {"c.txt", "a.txt"})).status, 0);
    dir_.Write("foreign.pak", dir_.Read("base.pak"));
    dir_.Write("foreign.pak.zlk", dir_.Read("other.pak.zlk"));
    const std::pair<std::string, std::string> rows[] = {
        {"missing.pak", "Cannot read patch base missing.pak!"},
        {"truncated.pak", "Cannot read patch base truncated.pak!"},
        {"foreign.pak", "Cannot read patch base foreign.pak!"},
        {"lone.pak", "Patch base lone.pak has no key file lone.pak.zlk, which holds its names!"},
        {"", "Cannot read patch base !"},
    };
    for (const auto& [base, message] : rows) {
        const ToolRun run = RunCommands(Pack("p.pak", "v1", {"a.txt"}, PatchOf(base)));
        EXPECT_EQ(run.err, message + "\n") << base;
        EXPECT_EQ(run.out, testing::Banner(1)) << base;
        EXPECT_EQ(run.status, 3) << base;
        EXPECT_EQ(dir_.Read("p.pak"), "old patch") << base;
        EXPECT_EQ(dir_.Read("p.pak.del"), "old list") << base;
        EXPECT_FALSE(Exists("p.pak.zlk")) << base;
    }
    const ToolRun strict = testing::RunProgram("/usr/bin/env", {"ZELKOR_STRICT=1", ZELKOR_BINARY, "script.xml"}, dir_.path());
    EXPECT_EQ(strict.status, 2);
    EXPECT_NE(strict.err.find("Strict mode: p.pak not written!"), std::string::npos) << strict.err;
}

// check tells what the run would store and delete, reading and hashing the
// sources but writing nothing.
TEST_F(PatchCommandTest, CheckCountsWhatThePatchWouldHoldAndDelete)
{
    dir_.Write("v2/a.txt", "alpha");
    dir_.Write("v2/b.txt", std::string(3000, 'B'));
    dir_.Write("v2/d.txt", "delta");
    WriteScript("patch.xml", Pack("p.pak", "v2", {"a.txt", "b.txt", "d.txt"}, PatchOf("base.pak")) +
                                 Pack("q.pak", "v1", {"a.txt", "b.txt", "c.txt"}, PatchOf("base.pak")) +
                                 Pack("full.pak", "v2", {"a.txt"}));
    const ToolRun check = testing::RunInspect({"check", "patch.xml"}, dir_.path());
    EXPECT_EQ(check.status, 0) << check.err;
    EXPECT_EQ(check.out,
              "patch.xml(2): p.pak: 3 files, 3010 bytes to read\n"
              "patch.xml(2): p.pak: a patch of base.pak: 2 entries to store, 1 to delete\n"
              "patch.xml(7): q.pak: 3 files, 3010 bytes to read\n"
              "patch.xml(7): q.pak: a patch of base.pak: nothing changed, no entry to store and none to delete\n"
              "patch.xml(12): full.pak: 1 file, 5 bytes to read\n");
    EXPECT_FALSE(Exists("p.pak") || Exists("p.pak.del") || Exists("q.pak"));
    const ToolRun json = testing::RunInspect({"check", "--json", "patch.xml"}, dir_.path());
    EXPECT_NE(json.out.find("\"patch\":{\"base\":\"base.pak\",\"entries\":2,\"deletions\":1}"), std::string::npos)
        << json.out;
    EXPECT_NE(json.out.find("\"bytes\":5,\"mayNotFit\":false}"), std::string::npos) << json.out;

    const ToolRun run = Run({"patch.xml"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(testing::ArchivedNames(Archive("p.pak", "p.pak.zlk")), (std::vector<std::string>{"b.txt", "d.txt"}));
    EXPECT_EQ(Deletions("p.pak").names, std::vector<std::string>{"c.txt"});
}

// A name listed twice is decided by its first File, as a reader of the full
// build finds that one; a rebuild replaces the list with the patch.
TEST_F(PatchCommandTest, RepeatedNamesFollowTheFirstAndARebuildReplacesTheList)
{
    dir_.Write("v2/c.txt", "changed");
    const ToolRun run = RunCommands(
        "  <CreateOrvanPack ArchivePath=\"p.pak\" BuildKeyfile=\"true\" PatchOf=\"base.pak\">\n" +
        FileElement("a.txt", "v1/a.txt") + FileElement("A.TXT", "v2/c.txt") + FileElement("c.txt", "v2/c.txt") +
        FileElement("C.txt", "v1/c.txt") + "  </CreateOrvanPack>\n");
    EXPECT_EQ(run.status, 1);  // the stored pair names one entry, as in any archive
    EXPECT_EQ(testing::ArchivedNames(Archive("p.pak", "p.pak.zlk")), (std::vector<std::string>{"c.txt", "C.txt"}));
    EXPECT_EQ(Deletions("p.pak").names, std::vector<std::string>{"b.txt"});

    ASSERT_EQ(RunCommands(Pack("p.pak", "v1", {"a.txt"}, PatchOf("base.pak"))).status, 0);
    const DeletionList list = Deletions("p.pak");
    EXPECT_EQ(list.names, (std::vector<std::string>{"b.txt", "c.txt"}));
    EXPECT_EQ(list.patch,
              IndexedArchive(std::make_unique<FileSource>((dir_ / "p.pak").string()), nullptr).Identity());
}

}  // namespace
}  // namespace zelkor
