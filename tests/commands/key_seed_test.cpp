// KeySeedPath: the same script, sources and seed give byte-identical archives and
// key files, from run to run and on one thread or many; a seed that cannot be
// read skips its command and touches nothing.
#include <chrono>
#include <sstream>

#include <gtest/gtest.h>
#include <tbb/global_control.h>
#include <tbb/task_arena.h>

#include "processor_fixture.h"
#include "commands/script_processor.h"
#include "pack/file_job_pool.h"
#include "runtime/warning_log.h"
#include "script/script_loader.h"
#include "store/cache_counters.h"
#include "support/file_times.h"
#include "support/test_data.h"

namespace zelkor {
namespace {

using testing::ArchivedContents;
using testing::ArchivedNames;
using testing::FileElement;
using testing::ToolRun;
using Names = std::vector<std::string>;

class KeySeedTest : public testing::ProcessorTest {
protected:
    void SetUp() override
    {
        dir_.Write("seed", testing::RandomBytes(64, 1));
        dir_.Write("other-seed", testing::RandomBytes(64, 2));
        dir_.Write("src/c.txt", "see");
        std::filesystem::create_directory(dir_ / "out");
    }

    // Sources of mixed sizes: compressible, random, tiny, empty, one large, and
    // src/many/7 missing.
    void WriteManyFiles()
    {
        for (unsigned i = 0; i < 120; ++i) {
            const std::string name = "src/many/" + std::to_string(i);
            if (i % 4 == 0)
                dir_.Write(name, testing::CompressibleText(i * 900, i));
            else if (i % 4 == 1)
                dir_.Write(name, testing::RandomBytes(i * 37, i));
            else if (i % 4 == 2)
                dir_.Write(name, std::string(i % 5, 'x'));
            else if (i != 7)
                dir_.Write(name, "");
        }
        dir_.Write("src/big", testing::CompressibleText(3 << 20, 99));
    }

    // A pack command over WriteManyFiles' sources, named by absolute paths so
    // that the script runs the same from any working directory.
    std::string ManyFilesCommand(const std::string& archive, const std::string& seed)
    {
        std::string files;
        for (unsigned i = 0; i < 120; ++i)
            files += FileElement("many/" + std::to_string(i), (dir_ / ("src/many/" + std::to_string(i))).string());
        files += FileElement("big", (dir_ / "src/big").string());
        return "<CreateOrvanPack ArchivePath=\"" + archive + "\" BuildKeyfile=\"true\" KeySeedPath=\"" +
               (dir_ / seed).string() + "\">\n" + files + "</CreateOrvanPack>\n";
    }

    // Runs `commands` in this process on a task arena of `threads` threads.
    void RunInProcess(const std::string& commands, int threads)
    {
        boost::property_tree::ptree tree;
        ScriptLoader::Parse("<ScriptFile>" + commands + "</ScriptFile>", "inline.xml", tree);
        std::ostringstream warnings;
        WarningLog log(warnings);
        // Up to `threads` threads even on a machine with fewer cores.
        tbb::global_control parallelism(tbb::global_control::max_allowed_parallelism, threads);
        tbb::task_arena arena(threads);
        arena.execute([&] {
            FileJobPool jobs(nullptr);
            ScriptProcessor(jobs, log).Run(tree, "inline.xml");
        });
        EXPECT_EQ(warnings.str(), "Cannot compress " + (dir_ / "src/many/7").string() + "!\n");
    }
};

TEST_F(KeySeedTest, SameInputsGiveTheSameBytesOnOneThreadOrMany)
{
    WriteManyFiles();
    const std::string out = (dir_ / "out").string();
    for (const std::string run : {"first", "second"}) {
        ToolRun tool = RunCommands(ManyFilesCommand(out + "/" + run + ".pak", "seed"));
        EXPECT_EQ(tool.status, 1);
    }
    RunInProcess(ManyFilesCommand(out + "/one.pak", "seed"), 1);
    RunInProcess(ManyFilesCommand(out + "/many.pak", "seed"), 4);
    // With the compression cache, cold (filling it) and warm (served from it).
    WriteScript("cached.xml", ManyFilesCommand(out + "/cold.pak", "seed") + ManyFilesCommand(out + "/warm.pak", "seed"));
    EXPECT_EQ(testing::RunProgram("/usr/bin/env", {"ZELKOR_CACHE_DIR=cache", ZELKOR_BINARY, "cached.xml"}, dir_.path())
                  .status,
              1);

    // On the threads ZELKOR_THREADS asks for, and within a memory budget that
    // admits the large source alone.
    for (const auto& [name, variable] : {std::pair{"threads1", "ZELKOR_THREADS=1"},
                                         std::pair{"threads3", "ZELKOR_THREADS=3"},
                                         std::pair{"budget", "ZELKOR_MEMORY=1M"}}) {
        WriteScript(std::string(name) + ".xml", ManyFilesCommand(out + "/" + name + ".pak", "seed"));
        EXPECT_EQ(testing::RunProgram("/usr/bin/env", {variable, ZELKOR_BINARY, std::string(name) + ".xml"}, dir_.path())
                      .status,
                  1);
    }

    const std::string archive = dir_.Read("out/first.pak");
    const std::string keyFile = dir_.Read("out/first.pak.zlk");
    for (const std::string other : {"second", "one", "many", "cold", "warm", "threads1", "threads3", "budget"}) {
        SCOPED_TRACE(other);
        EXPECT_TRUE(dir_.Read("out/" + other + ".pak") == archive);
        EXPECT_TRUE(dir_.Read("out/" + other + ".pak.zlk") == keyFile);
    }
    EXPECT_EQ(Archive("out/first.pak", "out/first.pak.zlk").size(), 120u);

    // Another seed gives other bytes throughout.
    RunCommands(ManyFilesCommand(out + "/other.pak", "other-seed"));
    EXPECT_NE(dir_.Read("out/other.pak").substr(0, 68), archive.substr(0, 68));
    EXPECT_NE(dir_.Read("out/other.pak.zlk").substr(0, 64), keyFile.substr(0, 64));
    EXPECT_NE(dir_.Read("out/other.pak").substr(88, 64), archive.substr(88, 64));
}

TEST_F(KeySeedTest, SeedPathsTakeBackslashesAndTheArchiveStillDecrypts)
{
    std::filesystem::create_directory(dir_ / "keys");
    std::filesystem::copy_file(dir_ / "seed", dir_ / "keys/seed");
    for (const std::string archive : {"a", "b"}) {
        ToolRun run = RunCommands("<CreateOrvanPack ArchivePath=\"out\\" + archive +
                                  ".pak\" KeySeedPath=\"keys\\seed\">" + FileElement("c", "src/c.txt") +
                                  "</CreateOrvanPack>\n");
        EXPECT_EQ(run.err, "");
        EXPECT_EQ(run.status, 0);
    }
    EXPECT_EQ(ArchivedContents(Archive("out/a.pak")), Names{"see"});
    EXPECT_EQ(dir_.Read("out/a.pak"), dir_.Read("out/b.pak"));
}

// --- Unchanged builds left in place -------------------------------------------

class UnchangedBuildTest : public KeySeedTest {
protected:
    void SetUp() override
    {
        KeySeedTest::SetUp();
        dir_.Write("src/text", testing::CompressibleText(400'000, 1));
        dir_.Write("src/noise", testing::RandomBytes(300'000, 2));
        dir_.Write("src/small", testing::CompressibleText(2000, 3));
        dir_.Write("src/empty", "");
        std::string files;
        for (const char* name : {"text", "noise", "small", "empty"})
            files += FileElement(name, std::string("src/") + name);
        WriteScript("s.xml", "<CreateOrvanPack ArchivePath=\"out/a.pak\" BuildKeyfile=\"true\" "
                             "KeySeedPath=\"seed\">\n" + files + "</CreateOrvanPack>\n");
    }

    // Builds with the cache, on the archiver whose clock runs `ahead_` ahead
    // of the system's.
    ToolRun Build(const std::vector<std::string>& environment, const std::string& script = "s.xml")
    {
        std::vector<std::string> args = {"ZELKOR_CACHE_DIR=cache",
                                         "ZELKOR_TEST_CLOCK_AHEAD_MS=" + std::to_string(ahead_.count())};
        args.insert(args.end(), environment.begin(), environment.end());
        args.push_back(ZELKOR_CLOCK_AHEAD_BINARY);
        args.push_back(script);
        return testing::RunProgram("/usr/bin/env", args, dir_.path());
    }

    // Builds and returns whether the archive and key file stayed where they
    // were; either way they hold what a build without a cache gave.
    bool LeftInPlace(const std::vector<std::string>& environment = {})
    {
        const auto archive = Inode("out/a.pak");
        const auto keyFile = Inode("out/a.pak.zlk");
        const ToolRun run = Build(environment);
        EXPECT_EQ(run.err, "");
        EXPECT_EQ(run.status, 0);
        EXPECT_TRUE(dir_.Read("out/a.pak") == expected_.first);
        EXPECT_TRUE(dir_.Read("out/a.pak.zlk") == expected_.second);
        const bool archiveStayed = Inode("out/a.pak") == archive;
        EXPECT_EQ(Inode("out/a.pak.zlk") == keyFile, archiveStayed);
        return archiveStayed;
    }

    // The entries copied from earlier builds, as the cache's counters have them.
    std::uint64_t Copied() const
    {
        const std::string stats = dir_.Read("cache/stats");
        return CacheCounters::Decode(std::span(reinterpret_cast<const std::uint8_t*>(stats.data()), stats.size()))
            .copied;
    }

    std::uint64_t Inode(const std::string& relative) const
    {
        return std::filesystem::exists(dir_ / relative) ? testing::InodeOf(dir_ / relative) : 0;
    }

    void Expect()
    {
        expected_ = {dir_.Read("out/a.pak"), dir_.Read("out/a.pak.zlk")};
    }

    // Replaces `relative` by a copy of itself: the same bytes in another file.
    void ReplaceByCopy(const std::string& relative)
    {
        std::filesystem::copy_file(dir_ / relative, dir_ / "copy");
        std::filesystem::rename(dir_ / "copy", dir_ / relative);
    }

    std::pair<std::string, std::string> expected_;
    // Sources are trusted by their status only once their last change lies two
    // seconds back: for the builds, the sources were written three seconds ago.
    std::chrono::milliseconds ahead_{3000};
};

TEST_F(UnchangedBuildTest, NothingChangedLeavesTheLastBuildInPlace)
{
    // Byte for byte what a build without the cache gives, cold, left in place,
    // rebuilt with every source read again, and rebuilt with sources trusted.
    ASSERT_EQ(Run({"s.xml"}).status, 0);
    Expect();
    EXPECT_FALSE(LeftInPlace());  // cold
    EXPECT_TRUE(LeftInPlace());
    EXPECT_TRUE(LeftInPlace());
    EXPECT_FALSE(LeftInPlace({"ZELKOR_CACHE_REHASH=1"}));
    EXPECT_TRUE(LeftInPlace({"ZELKOR_CACHE_REHASH=0"}));
    // Touched by someone else (only the times set back), or replaced by a copy
    // of the same bytes: built again, with the sources trusted.
    testing::SetModified(dir_ / "out/a.pak", testing::TimesOf(dir_ / "out/a.pak").modified - 1'000'000'000);
    EXPECT_FALSE(LeftInPlace());
    EXPECT_TRUE(LeftInPlace());
    ReplaceByCopy("out/a.pak.zlk");
    EXPECT_FALSE(LeftInPlace());
    ReplaceByCopy("out/a.pak");
    EXPECT_FALSE(LeftInPlace());
    std::filesystem::remove(dir_ / "out/a.pak.zlk");
    EXPECT_FALSE(LeftInPlace());
    EXPECT_TRUE(LeftInPlace());
    // Records of another cache directory are not this one's.
    const ToolRun elsewhere = Build({"ZELKOR_CACHE_DIR=other-cache"});
    EXPECT_EQ(elsewhere.status, 0);
    EXPECT_NE(Inode("out/a.pak"), 0u);
}

TEST_F(UnchangedBuildTest, AnyChangedInputBuildsAgain)
{
    ASSERT_EQ(Build({}).status, 0);
    Expect();
    EXPECT_TRUE(LeftInPlace());
    // Another seed: other bytes.
    dir_.Write("seed", testing::RandomBytes(64, 7));
    ASSERT_EQ(Build({}).status, 0);
    EXPECT_FALSE(dir_.Read("out/a.pak") == expected_.first);
    ASSERT_EQ(Run({"s.xml"}).status, 0);
    Expect();
    EXPECT_FALSE(LeftInPlace());
    EXPECT_TRUE(LeftInPlace());

    // One source changed: built again, and again while it changed too recently
    // to be trusted (the builds now come right after the change).
    dir_.Write("src/small", testing::CompressibleText(2000, 4));
    ahead_ = std::chrono::milliseconds(0);
    ASSERT_EQ(Run({"s.xml"}).status, 0);
    Expect();
    EXPECT_FALSE(LeftInPlace());
    EXPECT_FALSE(LeftInPlace());
    // Another level: built again, each time, from sources read and hashed
    // again (records of the default level's keys serve no other level).
    std::string files;
    for (const char* name : {"text", "noise", "small", "empty"})
        files += FileElement(name, std::string("src/") + name);
    WriteScript("s.xml", "<CreateOrvanPack ArchivePath=\"out/a.pak\" BuildKeyfile=\"true\" KeySeedPath=\"seed\" "
                         "Level=\"12\">" + files + "</CreateOrvanPack>\n");
    ASSERT_EQ(Run({"s.xml"}).status, 0);
    Expect();
    EXPECT_FALSE(LeftInPlace());
    EXPECT_FALSE(LeftInPlace());
    // Another command at the same path (a source dropped), and one without a seed.
    WriteScript("s.xml", "<CreateOrvanPack ArchivePath=\"out/a.pak\" BuildKeyfile=\"true\" KeySeedPath=\"seed\">" +
                             FileElement("text", "src/text") + "</CreateOrvanPack>\n");
    ASSERT_EQ(Run({"s.xml"}).status, 0);
    Expect();
    EXPECT_FALSE(LeftInPlace());
    EXPECT_TRUE(LeftInPlace());
    WriteScript("s.xml", "<CreateOrvanPack ArchivePath=\"out/a.pak\" BuildKeyfile=\"true\">" +
                             FileElement("text", "src/text") + "</CreateOrvanPack>\n");
    for (int i = 0; i < 2; ++i) {
        const auto before = Inode("out/a.pak");
        ASSERT_EQ(Build({}).status, 0);
        EXPECT_NE(Inode("out/a.pak"), before);
    }
}

TEST_F(UnchangedBuildTest, AnUnchangedSetLeavesEveryVolumeInPlace)
{
    std::string files;
    for (const char* name : {"text", "noise", "small", "empty"})
        files += FileElement(name, std::string("src/") + name);
    WriteScript("s.xml", "<CreateOrvanPack ArchivePath=\"out/a.pak\" BuildKeyfile=\"true\" KeySeedPath=\"seed\" "
                         "VolumeSize=\"200K\">\n" + files + "</CreateOrvanPack>\n");
    const std::vector<std::string> set = {"out/a.pak.set", "out/a_001.pak", "out/a_001.pak.zlk", "out/a_002.pak",
                                          "out/a_002.pak.zlk"};
    const auto inodes = [&] {
        std::vector<std::uint64_t> found;
        for (const std::string& file : set)
            found.push_back(Inode(file));
        return found;
    };
    ASSERT_EQ(Build({}).status, 0);
    ASSERT_NE(Inode("out/a_002.pak"), 0u);
    Expect();
    std::vector<std::uint64_t> before = inodes();
    EXPECT_TRUE(LeftInPlace());
    EXPECT_EQ(inodes(), before);
    // A later volume replaced by a copy of itself, or another VolumeSize:
    // built again, every file.
    ReplaceByCopy("out/a_001.pak.zlk");
    before = inodes();
    EXPECT_FALSE(LeftInPlace());
    for (std::size_t i = 0; i < set.size(); ++i)
        EXPECT_NE(inodes()[i], before[i]) << set[i];
    EXPECT_TRUE(LeftInPlace());
    WriteScript("s.xml", "<CreateOrvanPack ArchivePath=\"out/a.pak\" BuildKeyfile=\"true\" KeySeedPath=\"seed\" "
                         "VolumeSize=\"300K\">\n" + files + "</CreateOrvanPack>\n");
    ASSERT_EQ(Build({}).status, 0);
    EXPECT_FALSE(Exists("out/a_002.pak"));
}

TEST_F(UnchangedBuildTest, ABuildThatWarnedIsBuiltAgainWithItsWarnings)
{
    WriteScript("w.xml", "<CreateOrvanPack ArchivePath=\"out/w.pak\" KeySeedPath=\"seed\">" +
                             FileElement("text", "src/text") + FileElement("gone", "src/missing") +
                             "</CreateOrvanPack>\n");
    for (int i = 0; i < 3; ++i) {
        const auto before = Inode("out/w.pak");
        const ToolRun run = Build({}, "w.xml");
        EXPECT_EQ(run.err, "Cannot compress src/missing!\n");
        EXPECT_EQ(run.status, 1);
        EXPECT_NE(Inode("out/w.pak"), before);
    }
    // In strict mode too: the warning ends the run and the last good build stays.
    const ToolRun strict = Build({"ZELKOR_STRICT=1"}, "w.xml");
    EXPECT_EQ(strict.status, 2);
}

TEST_F(UnchangedBuildTest, ChangedSourcesLeaveTheRestCopiedAndWarningsAsBefore)
{
    // What a build without the cache gives, into an archive of its own.
    std::string full = dir_.Read("s.xml");
    full.replace(full.find("out/a.pak"), 9, "out/f.pak");
    dir_.Write("full.xml", full);
    const auto sameAsWithoutCache = [&](int status) {
        EXPECT_EQ(Run({"full.xml"}).status, status);
        EXPECT_TRUE(dir_.Read("out/a.pak") == dir_.Read("out/f.pak"));
        EXPECT_TRUE(dir_.Read("out/a.pak.zlk") == dir_.Read("out/f.pak.zlk"));
    };
    ASSERT_EQ(Build({}).status, 0);
    EXPECT_EQ(Copied(), 0u);
    // One source changed: the three others are copied from the last build. Its
    // last change an hour ahead, it is never trusted in this test.
    dir_.Write("src/small", testing::CompressibleText(2000, 4));
    testing::SetModified(dir_ / "src/small", testing::TimesOf(dir_ / "src/small").modified + 3600'000'000'000);
    ToolRun run = Build({});
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(Copied(), 3u);
    sameAsWithoutCache(0);
    EXPECT_NE(testing::RunProgram(ZELKOR_INSPECT_BINARY, {"cache", "cache"}, dir_.path())
                  .out.find(", 3 archive entries copied from earlier builds\n"),
              std::string::npos);

    // A source gone: what is left is copied, but for the one not trusted, with the warning and exit status of a build
    // without the cache, every time (a build that warned is never left in
    // place, and lends its entries all the same); in strict mode the run ends
    // and the last build stays.
    std::filesystem::remove(dir_ / "src/empty");
    for (const std::uint64_t copied : {5u, 7u}) {
        run = Build({});
        EXPECT_EQ(run.err, "Cannot compress src/empty!\n");
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(Copied(), copied);
        sameAsWithoutCache(1);
    }
    const auto archive = Inode("out/a.pak");
    run = Build({"ZELKOR_STRICT=1"});
    EXPECT_EQ(run.err, "Cannot compress src/empty!\nStrict mode: out/a.pak not written!\n");
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(Inode("out/a.pak"), archive);
}

// --- Warnings -----------------------------------------------------------------

TEST_F(KeySeedTest, SeedThatCannotBeReadSkipsTheCommandAndTouchesNothing)
{
    dir_.Write("short", std::string(31, 's'));
    dir_.Write("long", std::string((1 << 20) + 1, 'l'));
    dir_.Write("shortest", std::string(32, 's'));
    std::filesystem::create_directory(dir_ / "folder");
    struct Case {
        std::string seed;
        std::string err;
    };
    const std::vector<Case> cases = {
        {"missing", "Cannot read key seed missing!\n"},
        {"nodir\\seed", "Cannot read key seed nodir\\seed!\n"},
        {"short", "Cannot read key seed short!\n"},
        {"long", "Cannot read key seed long!\n"},
        {"folder", "Cannot read key seed folder!\n"},
        {"", "Cannot read key seed !\n"},
        {"shortest", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.seed);
        dir_.Write("out/a.pak", "old archive");
        dir_.Write("out/a.pak.zlk", "old key file");
        ToolRun run = RunCommands("<CreateOrvanPack ArchivePath=\"out/a.pak\" BuildKeyfile=\"true\" KeySeedPath=\"" +
                                  c.seed + "\">" + FileElement("m", "src/missing") +
                                  "</CreateOrvanPack>\n<CreateOrvanPack ArchivePath=\"out/next.pak\"/>\n");
        // No source of a skipped command is read; the next command runs. With
        // a good seed, the one source cannot be read: nothing to store, and the
        // archive is not written either. Either way an output was not written.
        EXPECT_EQ(run.err, c.err.empty() ? "Cannot compress src/missing!\n"
                                           "out/a.pak not written: none of its 1 files could be stored!\n"
                                         : c.err);
        EXPECT_EQ(run.status, 3);
        EXPECT_TRUE(Exists("out/next.pak"));
        EXPECT_EQ(dir_.Read("out/a.pak"), "old archive");
        EXPECT_EQ(dir_.Read("out/a.pak.zlk"), "old key file");
    }
}

}  // namespace
}  // namespace zelkor
