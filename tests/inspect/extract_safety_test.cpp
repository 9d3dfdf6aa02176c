// Extraction never writes outside its directory, never over a file unless
// forced, and keeps the earlier of two entries with the same name unless forced.
#include <filesystem>

#include <gtest/gtest.h>

#include "inspect_fixture.h"

namespace zelkor {
namespace {

namespace fs = std::filesystem;
using testing::Count;
using testing::ToolRun;
using Files = std::map<std::string, std::string>;

class ExtractSafetyTest : public testing::InspectTest {};

TEST_F(ExtractSafetyTest, UnsafeNamesAreRefusedAndNothingLandsOutside)
{
    Craft("a.pak",
          {{"../escape.txt", "1"},
           {"/tmp/absolute.txt", "2"},
           {"C:\\drive.txt", "3"},
           {"sub\\..\\..\\..\\back.txt", "4"},
           {"dir/", "5"},
           {"", "6"},
           {"good/./file.txt", "7"},
           {"also//good.txt", "8"}},
          true);
    // Deep enough that each ".." would still land inside the test's directory.
    const ToolRun run = Inspect({"extract", "a.pak", "-o", "x/y/z/out"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(Count(run.err, ": not written: "), 6u) << run.err;
    EXPECT_NE(run.err.find("entry 0 (../escape.txt): not written: the name holds a \"..\" component\n"),
              std::string::npos)
        << run.err;
    EXPECT_NE(run.err.find("entry 1 (/tmp/absolute.txt): not written: the name is absolute\n"),
              std::string::npos);
    EXPECT_NE(run.err.find("entry 2 (C:\\drive.txt): not written: the name has a drive prefix\n"),
              std::string::npos);
    EXPECT_NE(run.out.find("extracted 2 of 8 entries"), std::string::npos) << run.out;
    EXPECT_EQ(Tree("x/y/z/out"), (Files{{"good/file.txt", "7"}, {"also/good.txt", "8"}}));
    // Nothing else anywhere below the test's directory but the archive.
    EXPECT_EQ(Tree("").size(), 4u);
    EXPECT_FALSE(fs::exists("/tmp/absolute.txt") && testing::ReadFile("/tmp/absolute.txt") == "2");
}

TEST_F(ExtractSafetyTest, LinksInTheDirectoryAreNeverFollowed)
{
    Craft("a.pak", {{"inside/payload.txt", "evil"}, {"victim.txt", "evil"}, {"plain.txt", "fine"}}, true);
    fs::create_directories(dir_ / "outside");
    dir_.Write("outside/victim.txt", "precious");
    fs::create_directories(dir_ / "out");
    fs::create_directory_symlink(dir_ / "outside", dir_ / "out/inside");
    fs::create_symlink(dir_ / "outside/victim.txt", dir_ / "out/victim.txt");

    ToolRun run = Inspect({"extract", "a.pak", "-o", "out"});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("entry 0 (inside/payload.txt): not written: out/inside is a link, which is never"
                           " followed\n"),
              std::string::npos)
        << run.err;
    EXPECT_NE(run.err.find("entry 1 (victim.txt): not written: out/victim.txt exists (use --force to"
                           " overwrite it)\n"),
              std::string::npos)
        << run.err;

    // Forced, the link to a file is replaced by the file; the link to a
    // directory still stops the write.
    run = Inspect({"extract", "a.pak", "-o", "out", "--force"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(Count(run.err, "not written"), 1u) << run.err;
    EXPECT_EQ(Tree("outside"), (Files{{"victim.txt", "precious"}}));
    EXPECT_FALSE(fs::is_symlink(dir_ / "out/victim.txt"));
    EXPECT_EQ(dir_.Read("out/victim.txt"), "evil");
    EXPECT_EQ(dir_.Read("out/plain.txt"), "fine");
}

TEST_F(ExtractSafetyTest, ExistingFilesAndDuplicateNamesNeedForce)
{
    Craft("a.pak",
          {{"same.txt", "first"}, {"twice.txt", "equal"}, {"same.txt", "second"}, {"twice.txt", "equal"}},
          true);
    ToolRun run = Inspect({"extract", "a.pak", "-o", "out"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err,
              "entry 2 (same.txt): not written: entry 0 was written at out/same.txt (use --force to let"
              " the later entry win)\n"
              "entry 3 (twice.txt): skipped: the same name and content as entry 1\n");
    EXPECT_EQ(run.out, "extracted 2 of 4 entries from a.pak with key file a.pak.zlk to out; 1 skipped as a"
                       " duplicate; 1 not written\n");
    EXPECT_EQ(Tree("out"), (Files{{"same.txt", "first"}, {"twice.txt", "equal"}}));

    // A second run finds every place taken.
    run = Inspect({"extract", "a.pak", "-o", "out"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(Count(run.err, "exists (use --force to overwrite it)\n"), 4u) << run.err;
    EXPECT_EQ(Tree("out"), (Files{{"same.txt", "first"}, {"twice.txt", "equal"}}));

    run = Inspect({"extract", "a.pak", "-o", "out", "--force"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(Tree("out"), (Files{{"same.txt", "second"}, {"twice.txt", "equal"}}));
}

}  // namespace
}  // namespace zelkor
