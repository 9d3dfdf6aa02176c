// CreateOrvanPack end to end: what lands in the archive and key file, in which
// order, and what is printed.
#include <optional>

#include <gtest/gtest.h>

#include "processor_fixture.h"
#include "support/system_tests.h"
#include "support/test_data.h"

namespace zelkor {
namespace {

using testing::ArchivedContents;
using testing::ArchivedNames;
using testing::Banner;
using testing::FileElement;
using testing::ToolRun;
using Names = std::vector<std::string>;

class PackCommandTest : public testing::ProcessorTest {
protected:
    void SetUp() override
    {
        dir_.Write("src/a.txt", std::string(5000, 'a'));
        dir_.Write("src/b.bin", "\x01\x02\x03");
        dir_.Write("src/c.txt", "see");
        dir_.Write("src/empty", "");
        std::filesystem::create_directory(dir_ / "out");
    }
};

TEST_F(PackCommandTest, FilesAreStoredInDocumentOrderWithTheirNames)
{
    ToolRun run = RunCommands(
        "  <CreateOrvanPack ArchivePath=\"out/a.pak\" BuildKeyfile=\"true\">\n" +
        FileElement("Data\\C.txt", "src/c.txt") + FileElement("a.txt", "src/a.txt") +
        "    <Other/>\n    <!-- comment -->\n" + FileElement("b.bin", "src/b.bin") +
        FileElement("empty", "src/empty") + "  </CreateOrvanPack>\n");
    EXPECT_EQ(run.out, testing::Banner(1));
    // The unknown child is named and passed over; the comment is not an element.
    EXPECT_EQ(run.err, "script.xml(5): unknown element <Other> ignored!\n");
    EXPECT_EQ(run.status, 1);

    auto files = Archive("out/a.pak", "out/a.pak.zlk");
    EXPECT_EQ(ArchivedNames(files), (Names{"Data\\C.txt", "a.txt", "b.bin", "empty"}));
    EXPECT_EQ(ArchivedContents(files),
              (Names{"see", std::string(5000, 'a'), "\x01\x02\x03", ""}));
    EXPECT_TRUE(files[1].compressed);
    EXPECT_FALSE(files[2].compressed);
}

TEST_F(PackCommandTest, KeyFileFollowsBuildKeyfile)
{
    // Without a key file the archive alone decrypts; KeyPath alone asks for nothing.
    RunCommands("  <CreateOrvanPack ArchivePath=\"out/plain.pak\" KeyPath=\"out/k.zlk\">\n" +
                FileElement("c", "src/c.txt") + "  </CreateOrvanPack>\n");
    EXPECT_EQ(ArchivedContents(Archive("out/plain.pak")), Names{"see"});
    EXPECT_FALSE(Exists("out/k.zlk"));
    EXPECT_FALSE(Exists("out/plain.pak.zlk"));

    for (const std::string off : {"yes", "True", "", "false", "0"}) {
        ToolRun run = RunCommands("  <CreateOrvanPack ArchivePath=\"out/off.pak\" BuildKeyfile=\"" + off + "\">\n" +
                                  FileElement("c", "src/c.txt") + "  </CreateOrvanPack>\n");
        // A value that is not a boolean is named.
        const bool boolean = off == "false" || off == "0";
        EXPECT_EQ(run.err, boolean ? "" : "script.xml(2): BuildKeyfile=\"" + off + "\" is not true or false, taken as false!\n");
        EXPECT_EQ(run.status, boolean ? 0 : 1) << off;
        EXPECT_FALSE(Exists("out/off.pak.zlk")) << off;
        EXPECT_EQ(ArchivedContents(Archive("out/off.pak")), Names{"see"}) << off;
    }

    // " 1 " means true; the key file then goes to the archive path + ".zlk", or to KeyPath.
    RunCommands("  <CreateOrvanPack ArchivePath=\"out/on.pak\" BuildKeyfile=\" 1 \">\n" +
                FileElement("c", "src/c.txt") + "  </CreateOrvanPack>\n"
                "  <CreateOrvanPack ArchivePath=\"out/named.pak\" BuildKeyfile=\"true\" KeyPath=\"out/named.key\">\n" +
                FileElement("c", "src/c.txt") + "  </CreateOrvanPack>\n");
    EXPECT_EQ(ArchivedNames(Archive("out/on.pak", "out/on.pak.zlk")), Names{"c"});
    EXPECT_EQ(ArchivedNames(Archive("out/named.pak", "out/named.key")), Names{"c"});
    EXPECT_FALSE(Exists("out/named.pak.zlk"));

    // An empty KeyPath means the default key file.
    ToolRun run = RunCommands("  <CreateOrvanPack ArchivePath=\"out/empty.pak\" BuildKeyfile=\"true\" KeyPath=\"\">\n" +
                              FileElement("c", "src/c.txt") + "  </CreateOrvanPack>\n");
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(ArchivedNames(Archive("out/empty.pak", "out/empty.pak.zlk")), Names{"c"});
    // The shares really are split: the archive alone does not decrypt.
    EXPECT_THROW(Archive("out/on.pak"), std::runtime_error);
}

TEST_F(PackCommandTest, SameArchivePathAndSameNamesAreNotCoordinated)
{
    RunCommands("  <CreateOrvanPack ArchivePath=\"out/a.pak\" BuildKeyfile=\"true\">\n" +
                FileElement("x", "src/a.txt") + "  </CreateOrvanPack>\n"
                "  <CreateOrvanPack ArchivePath=\"out/a.pak\" BuildKeyfile=\"true\">\n" +
                FileElement("same", "src/c.txt") + FileElement("same", "src/c.txt") +
                FileElement("SAME", "src/b.bin") + "  </CreateOrvanPack>\n");
    // The second command replaced the first one's archive; duplicates are stored twice.
    auto files = Archive("out/a.pak", "out/a.pak.zlk");
    EXPECT_EQ(ArchivedNames(files), (Names{"same", "same", "SAME"}));
    EXPECT_EQ(ArchivedContents(files), (Names{"see", "see", "\x01\x02\x03"}));
}

TEST_F(PackCommandTest, EmptyCommandWritesHeadersOnly)
{
    ToolRun run = RunCommands("  <CreateOrvanPack ArchivePath=\"out/e.pak\" BuildKeyfile=\"1\"/>\n");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(std::filesystem::file_size(dir_ / "out/e.pak"), 68u);
    EXPECT_EQ(std::filesystem::file_size(dir_ / "out/e.pak.zlk"), 64u);
}

// --- Warnings -----------------------------------------------------------------

TEST_F(PackCommandTest, UnloadableSourcesAreLeftOutWithAWarning)
{
    // On Windows another program may hold a source without sharing it: it is
    // left out at once, never waited for. Elsewhere it is an ordinary file.
    dir_.Write("src/held.txt", "held");
    std::optional<testing::ExclusiveHold> hold;
    if (testing::OnWindows)
        hold.emplace(dir_ / "src/held.txt");
    ToolRun run = RunCommands(
        "  <CreateOrvanPack ArchivePath=\"out/a.pak\" BuildKeyfile=\"true\">\n" +
        FileElement("a", "src/a.txt") + FileElement("m", "src/missing.png") +
        "    <File ArchivedPath=\"e\"></File>\n" + FileElement("dir", "src") +
        // A missing source is never asked for its ArchivedPath.
        "    <File><![CDATA[src/gone]]></File>\n"
        "    <File ArchivedPath=\"sp\"> src/c.txt </File>\n" +
        FileElement("c", "src/c.txt") + FileElement("h", "src/held.txt") + "  </CreateOrvanPack>\n");
    EXPECT_EQ(run.err, std::string("Cannot compress src/missing.png!\n"
                                   "Cannot compress !\n"
                                   "Cannot compress src!\n"
                                   "Cannot compress src/gone!\n"
                                   "Cannot compress  src/c.txt !\n") +
                           (testing::OnWindows ? "Cannot compress src/held.txt!\n" : ""));
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(ArchivedNames(Archive("out/a.pak", "out/a.pak.zlk")),
              testing::OnWindows ? (Names{"a", "c"}) : (Names{"a", "c", "h"}));
}

TEST_F(PackCommandTest, ACommandThatStoresNoneOfItsFilesLeavesTheLastGoodBuild)
{
    // A script run from the wrong directory: every source is Cannot compress.
    // Before, a good archive was replaced by an empty one, with exit status 1,
    // the status of a harmless warning.
    const std::string archive = (dir_ / "out/a.pak").string();
    WriteScript("s.xml", "<CreateOrvanPack ArchivePath=\"" + archive + "\" BuildKeyfile=\"true\">\n" +
                             FileElement("a", "src/a.txt") + FileElement("c", "src/c.txt") + "</CreateOrvanPack>\n");
    dir_.Write("elsewhere/src/c.txt", "sea");
    std::filesystem::create_directory(dir_ / "nowhere");
    const std::string script = (dir_ / "s.xml").string();
    const struct {
        const char* from;
        std::string err;
        int status;
        Names stored;  // empty: the last build stays
    } cases[] = {
        {".", "", 0, {"a", "c"}},
        {"nowhere",
         "Cannot compress src/a.txt!\nCannot compress src/c.txt!\n" + archive +
             " not written: none of its 2 files could be stored!\n",
         3, {}},
        // One of them stored: the archive is written, and the warning is only one.
        {"elsewhere", "Cannot compress src/a.txt!\n", 1, {"c"}},
    };
    const auto pair = [&] { return Exists("out/a.pak") ? dir_.Read("out/a.pak") + dir_.Read("out/a.pak.zlk") : ""; };
    for (const auto& c : cases) {
        const std::string before = pair();
        const ToolRun run = testing::RunZelkor({script}, dir_ / c.from);
        EXPECT_EQ(run.err, c.err) << c.from;
        EXPECT_EQ(run.status, c.status) << c.from;
        if (c.stored.empty()) {
            EXPECT_EQ(pair(), before) << c.from;
        } else {
            EXPECT_EQ(ArchivedNames(Archive("out/a.pak", "out/a.pak.zlk")), c.stored) << c.from;
        }
        // Nothing is left beside it: no temporary file, lock or record.
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir_ / "out"), {}), 2) << c.from;
    }
    // In strict mode the first warning ends the run, as before.
    const ToolRun strict =
        testing::RunProgram("/usr/bin/env", {"ZELKOR_STRICT=1", ZELKOR_BINARY, script}, dir_ / "nowhere");
    EXPECT_EQ(strict.err, "Cannot compress src/a.txt!\nStrict mode: " + archive + " not written!\n");
    EXPECT_EQ(strict.status, 2);
}

TEST_F(PackCommandTest, UncreatableArchiveSkipsTheCommandAndTheNextOneRuns)
{
    // On Windows an archive path that another program holds cannot be created.
    dir_.Write("out/held.pak", "");
    std::optional<testing::ExclusiveHold> hold;
    if (testing::OnWindows)
        hold.emplace(dir_ / "out/held.pak");
    ToolRun run = RunCommands(
        "  <CreateOrvanPack ArchivePath=\"nodir/a.pak\">\n" + FileElement("m", "src/missing") +
        "  </CreateOrvanPack>\n"
        "  <CreateOrvanPack ArchivePath=\"out/b.pak\" BuildKeyfile=\"true\" KeyPath=\"nodir/b.zlk\">\n" +
        FileElement("m", "src/missing") + "  </CreateOrvanPack>\n"
        // An empty KeyPath means the default, which names the failing directory here.
        "  <CreateOrvanPack ArchivePath=\"nodir/c.pak\" BuildKeyfile=\"true\" KeyPath=\"\"/>\n"
        "  <CreateOrvanPack ArchivePath=\"out/held.pak\">\n" + FileElement("m", "src/missing") +
        "  </CreateOrvanPack>\n"
        "  <CreateOrvanPack ArchivePath=\"out/d.pak\">\n" + FileElement("c", "src/c.txt") +
        "  </CreateOrvanPack>\n");
    // No source of a skipped command is read, so no "Cannot compress" appears
    // for one (out/held.pak is skipped on Windows alone).
    EXPECT_EQ(run.err, std::string("Cannot create nodir/a.pak!\nCannot create nodir/b.zlk!\n"
                                   "Cannot create nodir/c.pak.zlk!\n") +
                           (testing::OnWindows ? "Cannot create out/held.pak!\n"
                                               : "Cannot compress src/missing!\n"
                                                 "out/held.pak not written: none of its 1 files could be stored!\n"));
    EXPECT_EQ(run.status, 3);
    EXPECT_FALSE(Exists("out/b.pak"));
    EXPECT_EQ(ArchivedContents(Archive("out/d.pak")), Names{"see"});
}

TEST_F(PackCommandTest, EntryTheFormatCannotHoldIsLeftOut)
{
    ToolRun run = RunCommands("  <CreateOrvanPack ArchivePath=\"out/a.pak\" BuildKeyfile=\"true\">\n" +
                              FileElement(std::string(65536, 'n'), "src/c.txt") +
                              FileElement(std::string(65535, 'n'), "src/b.bin") +
                              "  </CreateOrvanPack>\n");
    EXPECT_EQ(run.err, "Cannot store src/c.txt!\n");
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(ArchivedNames(Archive("out/a.pak", "out/a.pak.zlk")), Names{std::string(65535, 'n')});
}

// --- Failures -----------------------------------------------------------------

TEST_F(PackCommandTest, MissingArchivedPathEndsTheRunAndTheArchiveBeingBuiltDoesNotAppear)
{
    // An archive from an earlier run stays as it was.
    ASSERT_EQ(RunCommands("  <CreateOrvanPack ArchivePath=\"out/a.pak\" BuildKeyfile=\"true\">\n" +
                          FileElement("old", "src/a.txt") + "  </CreateOrvanPack>\n")
                  .status,
              0);
    ToolRun run = RunCommands(
        "  <CreateOrvanPack ArchivePath=\"out/a.pak\" BuildKeyfile=\"true\">\n" +
        FileElement("a", "src/a.txt") + FileElement("b", "src/b.bin") +
        "    <File><![CDATA[src/c.txt]]></File>\n" + FileElement("e", "src/empty") +
        "  </CreateOrvanPack>\n"
        "  <CreateOrvanPack ArchivePath=\"out/later.pak\"/>\n");
    EXPECT_EQ(run.err, "No such node (<xmlattr>.ArchivedPath)\n");
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(ArchivedNames(Archive("out/a.pak", "out/a.pak.zlk")), (Names{"old"}));
    EXPECT_FALSE(Exists("out/later.pak"));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir_ / "out"), {}), 2);
}

TEST_F(PackCommandTest, MissingArchivePathCreatesNothing)
{
    ToolRun run = RunCommands("  <CreateOrvanPack BuildKeyfile=\"true\" KeyPath=\"out/k\">\n" +
                              FileElement("c", "src/c.txt") + "  </CreateOrvanPack>\n");
    EXPECT_EQ(run.err, "No such node (<xmlattr>.ArchivePath)\n");
    EXPECT_EQ(run.status, 2);
    EXPECT_TRUE(std::filesystem::is_empty(dir_ / "out"));
}

TEST_F(PackCommandTest, StorePatternsKeepMatchingFilesAsTheyAre)
{
    dir_.Write("seed", std::string(32, 's'));
    // Large enough to be streamed when stored as it is (no whole-file buffer).
    const std::string noise = testing::RandomBytes(5 << 20, 4);
    dir_.Write("src/noise", noise);
    const auto pack = [&](const std::string& archive, const std::string& store) {
        return RunCommands("  <CreateOrvanPack ArchivePath=\"out/" + archive +
                           "\" BuildKeyfile=\"true\" KeySeedPath=\"seed\"" + store + ">\n" +
                           FileElement("Data\\A.TXT", "src/a.txt") + FileElement("b.bin", "src/b.bin") +
                           FileElement("c.txt", "src/c.txt") + FileElement("noise", "src/noise") +
                           "  </CreateOrvanPack>\n");
    };
    // Matched as the name hash compares names: letter case and separators do
    // not count; empty patterns are nothing.
    ASSERT_EQ(pack("s.pak", " Store=\";data/*.txt;;*.bin\"").status, 0);
    auto files = Archive("out/s.pak", "out/s.pak.zlk");
    EXPECT_EQ(ArchivedContents(files), (Names{std::string(5000, 'a'), "\x01\x02\x03", "see", noise}));
    EXPECT_FALSE(files[0].compressed);  // would compress, but is stored as it is

    // For files that would not compress anyway, the archive is byte for byte the
    // one built without Store.
    ASSERT_EQ(pack("plain.pak", "").status, 0);
    EXPECT_TRUE(Archive("out/plain.pak", "out/plain.pak.zlk")[0].compressed);
    ASSERT_EQ(pack("bin.pak", " Store=\"*.BIN;c.*;noise\"").status, 0);
    EXPECT_EQ(testing::ReadFile(dir_ / "out/bin.pak"), testing::ReadFile(dir_ / "out/plain.pak"));
    EXPECT_EQ(testing::ReadFile(dir_ / "out/bin.pak.zlk"), testing::ReadFile(dir_ / "out/plain.pak.zlk"));
}

TEST_F(PackCommandTest, EveryLevelRoundTripsThroughTheReader)
{
    dir_.Write("seed", std::string(32, 's'));
    const std::string text = testing::CompressibleText(300'000, 5);
    dir_.Write("src/text", text);
    dir_.Write("src/noise", testing::RandomBytes(5000, 6));
    const auto pack = [&](const std::string& archive, const std::string& level) {
        return RunCommands("  <CreateOrvanPack ArchivePath=\"out/" + archive +
                           "\" BuildKeyfile=\"true\" KeySeedPath=\"seed\"" + level + ">\n" +
                           FileElement("text", "src/text") + FileElement("noise", "src/noise") +
                           FileElement("a.txt", "src/a.txt") + "  </CreateOrvanPack>\n");
    };
    ASSERT_EQ(pack("default.pak", "").status, 0);
    const Names contents = ArchivedContents(Archive("out/default.pak", "out/default.pak.zlk"));
    std::vector<std::uintmax_t> sizes;
    for (int level = 1; level <= 12; ++level) {
        SCOPED_TRACE(level);
        const std::string name = std::to_string(level) + ".pak";
        const ToolRun run = pack(name, " Level=\"" + std::to_string(level) + "\"");
        EXPECT_EQ(run.err, "");
        ASSERT_EQ(run.status, 0);
        const auto files = Archive("out/" + name, "out/" + name + ".zlk");
        EXPECT_EQ(ArchivedContents(files), contents);
        EXPECT_TRUE(files[0].compressed);
        sizes.push_back(std::filesystem::file_size(dir_ / "out" / name));
    }
    // The default is level 9, byte for byte; the highest level packs the text
    // smaller than the lowest.
    EXPECT_EQ(testing::ReadFile(dir_ / "out/9.pak"), testing::ReadFile(dir_ / "out/default.pak"));
    EXPECT_LT(sizes[11], sizes[0]);

    // A cache filled at one level serves no other: each level's archive is the
    // one built without a cache.
    WriteScript("cached.xml", "<CreateOrvanPack ArchivePath=\"out/c9.pak\" KeySeedPath=\"seed\" BuildKeyfile=\"true\">" +
                                  FileElement("text", "src/text") + FileElement("noise", "src/noise") +
                                  FileElement("a.txt", "src/a.txt") +
                                  "</CreateOrvanPack><CreateOrvanPack ArchivePath=\"out/c12.pak\" Level=\"12\" "
                                  "KeySeedPath=\"seed\" BuildKeyfile=\"true\">" +
                                  FileElement("text", "src/text") + FileElement("noise", "src/noise") +
                                  FileElement("a.txt", "src/a.txt") + "</CreateOrvanPack>\n");
    for (int round = 0; round < 2; ++round) {
        const ToolRun cached =
            testing::RunProgram("/usr/bin/env", {"ZELKOR_CACHE_DIR=cache", ZELKOR_BINARY, "cached.xml"}, dir_.path());
        EXPECT_EQ(cached.status, 0) << cached.err;
        EXPECT_EQ(testing::ReadFile(dir_ / "out/c9.pak"), testing::ReadFile(dir_ / "out/9.pak"));
        EXPECT_EQ(testing::ReadFile(dir_ / "out/c12.pak"), testing::ReadFile(dir_ / "out/12.pak"));
    }
}

// --- Strict mode ----------------------------------------------------------------

TEST_F(PackCommandTest, StrictModeKeepsTheLastGoodBuildOnAnyWarning)
{
    const auto strict = [&](const std::string& value, const std::string& script) {
        return testing::RunProgram("/usr/bin/env", {"ZELKOR_STRICT=" + value, ZELKOR_BINARY, script}, dir_.path());
    };
    const std::string head = "  <CreateOrvanPack ArchivePath=\"out/s.pak\" BuildKeyfile=\"true\">\n";
    const std::string tail = "  </CreateOrvanPack>\n";
    WriteScript("good.xml", head + FileElement("a", "src/a.txt") + tail);
    ToolRun good = strict("1", "good.xml");
    EXPECT_EQ(good.err, "");
    EXPECT_EQ(good.status, 0);
    const auto lastGood = Archive("out/s.pak", "out/s.pak.zlk");

    // A 4 GiB sparse source, which no archive can hold.
    std::filesystem::resize_file(dir_.Write("src/huge", ""), std::uint64_t{4} << 30);
    struct Case {
        std::string body;
        std::string err;
    };
    const std::vector<Case> cases = {
        {FileElement("a", "src/a.txt") + FileElement("m", "src/missing") + FileElement("c", "src/c.txt"),
         "Cannot compress src/missing!\n"},
        {FileElement("h", "src/huge"), "Cannot store src/huge!\n"},
        {FileElement("a", "src/a.txt") + FileElement("A", "src/c.txt"),
         "bad.xml(4): ArchivedPath A names the same entry as line 3!\n"},
        {"<Flie/>\n" + FileElement("a", "src/a.txt"), "bad.xml(3): unknown element <Flie> ignored!\n"},
    };
    for (const Case& c : cases) {
        WriteScript("bad.xml", head + c.body + tail +
                                   "  <CreateOrvanPack ArchivePath=\"out/never.pak\"/>\n");
        ToolRun run = strict("yes", "bad.xml");
        EXPECT_EQ(run.err, c.err + "Strict mode: out/s.pak not written!\n") << c.body;
        EXPECT_EQ(run.status, 2) << c.body;
        // The last good build stays whole, and the run ends there.
        EXPECT_EQ(Archive("out/s.pak", "out/s.pak.zlk"), lastGood) << c.body;
        EXPECT_FALSE(Exists("out/never.pak"));
    }
    // Without it, or with 0, a warning is a warning.
    ToolRun lenient = strict("0", "bad.xml");
    EXPECT_EQ(lenient.status, 1);
    EXPECT_TRUE(Exists("out/never.pak"));
}

}  // namespace
}  // namespace zelkor
