// zelkor-inspect on a volume set: every command that takes an archive reads the
// whole set, named by its first volume or its manifest.
#include <nlohmann/json.hpp>

#include <gtest/gtest.h>

#include "inspect/inspect_fixture.h"

namespace zelkor::testing {
namespace {

using nlohmann::json;

TEST_F(InspectTest, SetsAreReadWhereverArchivesAre)
{
    WriteSources();
    Pack("set.pak", true, "VolumeSize=\"5000\"");
    Pack("lone.pak", true);

    const ToolRun list = Inspect({"list", "set.pak"});
    EXPECT_EQ(list.status, 0) << list.err;
    EXPECT_EQ(list.out.rfind("set.pak, as a set of 2 volumes with key files numbered from set.pak.zlk:\n", 0), 0u)
        << list.out;
    EXPECT_EQ(Count(list.out, "\n"), 2 + sources_.size() + 1);

    const ToolRun listed = Inspect({"list", "set.pak.set", "--json"});
    ASSERT_EQ(listed.status, 0) << listed.err;
    const json document = json::parse(listed.out);
    EXPECT_EQ(document["manifest"], "set.pak.set");
    ASSERT_EQ(document["volumes"].size(), 2u);
    EXPECT_EQ(document["volumes"][1]["archive"], "set_001.pak");
    EXPECT_EQ(document["volumes"][1]["keyFile"], "set_001.pak.zlk");
    std::uint64_t entries = 0;
    for (const json& volume : document["volumes"])
        entries += volume["entries"].get<std::uint64_t>();
    EXPECT_EQ(entries, sources_.size());
    EXPECT_EQ(document["entries"].back()["index"], sources_.size() - 1);
    EXPECT_EQ(document["entries"].back()["volume"], 1);

    EXPECT_EQ(Inspect({"verify", "set.pak"}).status, 0);
    EXPECT_EQ(Inspect({"extract", "set.pak", "-o", "out"}).status, 0);
    EXPECT_EQ(Tree("out"), sources_);
    const ToolRun diff = Inspect({"diff", "lone.pak", "set.pak"});
    EXPECT_EQ(diff.status, 0) << diff.out;
    EXPECT_NE(diff.out.find("the same 4 entries in the same order"), std::string::npos) << diff.out;

    // The page never replaces a file of the set; the key file choice is the set's.
    const ToolRun page = Inspect({"report", "set.pak", "-o", "set_001.pak"});
    EXPECT_EQ(page.status, 2);
    EXPECT_NE(page.err.find("set_001.pak, a volume of the set"), std::string::npos) << page.err;
    const ToolRun noKey = Inspect({"list", "set.pak", "--no-key"});
    EXPECT_EQ(noKey.status, 2);
    EXPECT_NE(noKey.err.find("set.pak.set is a set built with key files"), std::string::npos) << noKey.err;
}

}  // namespace
}  // namespace zelkor::testing
