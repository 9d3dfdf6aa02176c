// list, verify and extract on several archives (--mount): the merged view as a
// game's mount list reads it, with each entry's archive, and the archives it
// refuses.
#include <gtest/gtest.h>

#include "archive/content_hasher.h"
#include "inspect_fixture.h"
#include "platform/hex.h"

namespace zelkor {
namespace {

using testing::ToolRun;

class MergedViewTest : public testing::InspectTest {
protected:
    void SetUp() override
    {
        dir_.Write("v1/a.txt", "alpha");
        dir_.Write("v1/d/b.txt", "beta");
        dir_.Write("v1/c.txt", "gamma");
        dir_.Write("v2/d/b.txt", "BETA!");
        dir_.Write("v2/e.txt", "epsilon");
        Script("base.pak", "v1", {"a.txt", "d/b.txt", "c.txt"}, "");
        // The patch lists a.txt with the base's content, and drops c.txt.
        dir_.Write("v2/a.txt", "alpha");
        Script("patch.pak", "v2", {"a.txt", "d/b.txt", "e.txt"}, " PatchOf=\"base.pak\"");
    }

    void Script(const std::string& archive, const std::string& root, const std::vector<std::string>& names,
                const std::string& attributes)
    {
        std::string script = "<ScriptFile><CreateOrvanPack ArchivePath=\"" + archive + "\" BuildKeyfile=\"true\"" +
                             attributes + ">\n";
        for (const std::string& name : names)
            script += "<File ArchivedPath=\"" + name + "\">" + root + "/" + name + "</File>\n";
        dir_.Write("s.xml", script + "</CreateOrvanPack></ScriptFile>\n");
        ASSERT_LE(testing::RunZelkor({"s.xml"}, dir_.path()).status, 1);
    }
};

TEST_F(MergedViewTest, ListShowsEachNameOnceFromTheArchiveThatWinsIt)
{
    const ToolRun list = Inspect({"list", "base.pak", "--mount", "patch.pak"});
    EXPECT_EQ(list.status, 0) << list.err;
    const auto hash = [](std::string_view content) {
        return Hex32(ContentHasher::Of(std::span(reinterpret_cast<const std::uint8_t*>(content.data()), content.size())));
    };
    EXPECT_EQ(list.out, "the merged view of 2 archives, each above those before it:\n"
                        "      0  base.pak, with key file base.pak.zlk\n"
                        "      1  patch.pak, with key file patch.pak.zlk, a patch deleting 1 name of base.pak\n"
                        "archive  index         raw      stored  method  content   name\n"
                        "      0      0           5           5  raw     " + hash("alpha") + "  a.txt\n"
                        "      1      0           5           5  raw     " + hash("BETA!") + "  d/b.txt\n"
                        "      1      1           7           7  raw     " + hash("epsilon") + "  e.txt\n"
                        "3 entries, 17 bytes raw, 17 bytes stored (100.0%)\n");

    const ToolRun json = Inspect({"list", "--json", "base.pak", "d/*", "--mount", "patch.pak"});
    EXPECT_EQ(json.status, 0);
    EXPECT_NE(json.out.find("{\"archives\":[{\"archive\":\"base.pak\",\"keyFile\":\"base.pak.zlk\",\"deletions\":null,"
                            "\"patchOf\":null},{\"archive\":\"patch.pak\",\"keyFile\":\"patch.pak.zlk\",\"deletions\":1,"
                            "\"patchOf\":\"base.pak\"}],\"entries\":[{\"archive\":\"patch.pak\",\"index\":0,\"name\":"
                            "\"d/b.txt\""),
              std::string::npos)
        << json.out;
    EXPECT_EQ(testing::Count(json.out, "\"archive\":\"patch.pak\",\"index\""), 1u) << json.out;
}

TEST_F(MergedViewTest, ExtractWritesTheMergedTreeAndVerifyNamesTheArchiveOfABadEntry)
{
    const ToolRun extract = Inspect({"extract", "base.pak", "--mount", "patch.pak", "-o", "out"});
    EXPECT_EQ(extract.status, 0) << extract.err;
    EXPECT_EQ(extract.out, "extracted 3 of 3 entries from the merged view of 2 archives to out\n");
    EXPECT_EQ(Tree("out"), (std::map<std::string, std::string>{{"a.txt", "alpha"}, {"d/b.txt", "BETA!"}, {"e.txt", "epsilon"}}));

    // The patch's e.txt damaged: the last stored byte.
    std::string patch = dir_.Read("patch.pak");
    patch.back() ^= 1;
    dir_.Write("patch.pak", patch);
    const ToolRun verify = Inspect({"verify", "base.pak", "--mount", "patch.pak"});
    EXPECT_EQ(verify.status, 1);
    EXPECT_NE(verify.out.find("patch.pak: entry 1 (e.txt): content hash does not match\n"
                              "verified the merged view of 2 archives: 3 entries, 1 bad\n"),
              std::string::npos)
        << verify.out;
    const ToolRun json = Inspect({"verify", "--json", "base.pak", "--mount", "patch.pak"});
    EXPECT_NE(json.out.find("\"ok\":false,\"entries\":3,\"intact\":2,\"bad\":[{\"archive\":\"patch.pak\",\"index\":1,"
                            "\"name\":\"e.txt\""),
              std::string::npos)
        << json.out;
}

// A merged view is a tree of names; a patch over an archive that is not its
// base is named; a deletion list of another build refuses the patch.
TEST_F(MergedViewTest, WhatTheMergedViewRefusesOrNotes)
{
    const ToolRun other = Inspect({"list", "patch.pak", "--mount", "base.pak"});
    EXPECT_EQ(other.status, 0);
    EXPECT_NE(other.out.find("note: patch.pak is a patch of another base than any archive below it (a base of 3 "
                             "entries, identity "),
              std::string::npos)
        << other.out;

    dir_.Write("lone.pak", dir_.Read("base.pak"));
    const ToolRun noKey = Inspect({"list", "base.pak", "--mount", "lone.pak"});
    EXPECT_EQ(noKey.status, 2);
    EXPECT_EQ(noKey.err, "zelkor-inspect: the merged view of several archives is a tree of names, and lone.pak is "
                         "read without a key file, which holds the names: give it its key file\n");

    dir_.Write("base.pak.del", dir_.Read("patch.pak.del"));
    const ToolRun stale = Inspect({"list", "base.pak", "--mount", "patch.pak"});
    EXPECT_EQ(stale.status, 2);
    EXPECT_NE(stale.err.find("base.pak.del: the deletions of another build of the patch"), std::string::npos)
        << stale.err;
}

}  // namespace
}  // namespace zelkor
