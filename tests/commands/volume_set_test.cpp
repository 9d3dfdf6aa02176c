// VolumeSize end to end: the values the attribute takes, what a rebuild of a
// set retires and what it never touches, a volume that cannot be created, and
// a signal at the set's commit.
#ifndef _WIN32
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <filesystem>

#include <gtest/gtest.h>

#include "commands/volume_set_writer.h"
#include "output/joint_commit.h"
#include "output/signal_cleanup.h"
#include "pack/file_job.h"
#include "processor_fixture.h"
#include "reader/set_reader.h"
#include "support/system_tests.h"
#include "support/test_data.h"

namespace zelkor {
namespace {

namespace fs = std::filesystem;
using testing::FileElement;
using testing::ToolRun;
using Names = std::vector<std::string>;

// `prefix` followed by the number `n`.
std::string Numbered(const std::string& prefix, int n)
{
    std::string text = prefix;
    text += std::to_string(n);
    return text;
}

class VolumeSetTest : public testing::ProcessorTest {
protected:
    void SetUp() override
    {
        for (int i = 0; i < 6; ++i)
            dir_.Write(Numbered("src/", i), testing::RandomBytes(1000, static_cast<unsigned>(i)));
        fs::create_directory(dir_ / "out");
    }

    // A pack command of the first `files` sources into out/a.pak.
    ToolRun Pack(const std::string& attributes, int files = 6)
    {
        std::string elements;
        for (int i = 0; i < files; ++i)
            elements += FileElement(Numbered("f", i), Numbered("src/", i));
        return RunCommands("<CreateOrvanPack ArchivePath=\"out/a.pak\" BuildKeyfile=\"true\" " + attributes + ">\n" +
                           elements + "</CreateOrvanPack>\n");
    }

    // The contents of the set (or lone archive) at out/a.pak, read as one.
    Names Contents() const
    {
        const std::string first = (dir_ / "out/a.pak").string();
        const std::string key = first + ".zlk";
        const std::optional<std::string> manifest = SetVolumes::ManifestFor(first);
        const SetReader reader = manifest ? SetReader(SetVolumes(*manifest, &key)) : SetReader(first, &key);
        Names contents;
        ArchiveReader::Entry entry;
        std::vector<std::uint8_t> content;
        for (SetReader::Walk walk = reader.Entries(); walk.Next(entry);) {
            EXPECT_EQ(reader.ReadContent(entry, content), ArchiveReader::ContentStatus::Ok);
            contents.emplace_back(content.begin(), content.end());
        }
        return contents;
    }

    Names Sources(int files) const
    {
        Names contents;
        for (int i = 0; i < files; ++i)
            contents.push_back(testing::RandomBytes(1000, static_cast<unsigned>(i)));
        return contents;
    }

    // The names in out/, sorted.
    Names Listing() const
    {
        Names names;
        for (const auto& entry : fs::directory_iterator(dir_ / "out"))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }
};

TEST_F(VolumeSetTest, ValuesTheAttributeTakes)
{
    // Each entry takes 1020 bytes; a volume its 68-byte header besides.
    const struct {
        const char* value;
        std::size_t volumes;  // 0: not a size, taken as absent
    } rows[] = {
        {"2108", 3},       {"2107", 6},      {"1", 6},  {"5k", 2},   {"4294967276", 1},
        {"0", 0},          {"4G", 0},        {"-1", 0}, {"1.5K", 0}, {"4294967277", 0},
        {"", 0},           {" 2K", 0},       {"2KB", 0},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.value);
        fs::remove_all(dir_ / "out");
        fs::create_directory(dir_ / "out");
        const ToolRun run = Pack(std::string("VolumeSize=\"") + row.value + "\"");
        EXPECT_EQ(Contents(), Sources(6));
        if (row.volumes == 0) {
            EXPECT_EQ(run.err, std::string("script.xml(2): VolumeSize=\"") + row.value +
                                   "\" is not a size of 1 to 4294967276 bytes, taken as absent!\n");
            EXPECT_EQ(run.status, 1);
            EXPECT_EQ(Listing(), (Names{"a.pak", "a.pak.zlk"}));
            continue;
        }
        EXPECT_EQ(run.err, "");
        EXPECT_EQ(Listing().size(), 1 + 2 * row.volumes);
        EXPECT_TRUE(Exists("out/a.pak.set"));
        EXPECT_EQ(Exists("out/a_" + std::string(row.volumes < 10 ? "00" : "0") + std::to_string(row.volumes - 1) + ".pak"),
                  row.volumes > 1);
    }
    // Strict mode makes a bad value end the run, the old set kept.
    const ToolRun strict = testing::RunProgram("/usr/bin/env", {"ZELKOR_STRICT=1", ZELKOR_BINARY, "script.xml"},
                                               dir_.path());
    EXPECT_EQ(strict.status, 2);
}

TEST_F(VolumeSetTest, CheckCountsTheVolumesARunWrites)
{
    std::string files;
    for (int i = 0; i < 6; ++i)
        files += FileElement(Numbered("f", i), Numbered("src/", i));
    WriteScript("script.xml", "<CreateOrvanPack ArchivePath=\"out/a.pak\" VolumeSize=\"2108\" Store=\"*\">\n" +
                                  files + "</CreateOrvanPack>\n<CreateOrvanPack ArchivePath=\"out/b.pak\" "
                                  "VolumeSize=\"2108\">\n" + files + "</CreateOrvanPack>\n");
    // Stored raw by a pattern, the count is known; otherwise compression may
    // take volumes away.
    const ToolRun check = testing::RunInspect({"check", "script.xml"}, dir_.path());
    EXPECT_EQ(check.out, "script.xml(2): out/a.pak: 6 files, 6000 bytes to read, 3 volumes\n"
                         "script.xml(10): out/b.pak: 6 files, 6000 bytes to read, at most 3 volumes\n");
    EXPECT_EQ(check.status, 0);
    ASSERT_EQ(Run({"script.xml"}).status, 0);
    EXPECT_TRUE(Exists("out/a_002.pak") && Exists("out/b_002.pak"));
    EXPECT_FALSE(Exists("out/a_003.pak") || Exists("out/b_003.pak"));
}

TEST_F(VolumeSetTest, ARebuildRetiresWhatItsSetNoLongerHasAndNothingElse)
{
    ASSERT_EQ(Pack("VolumeSize=\"1100\"").status, 0);
    EXPECT_EQ(Listing().size(), 13u);  // six volumes, their key files, the manifest
    // Files at volume names that this set did not write.
    dir_.Write("out/a_007.pak", "not a volume");
    fs::copy_file(dir_ / "out/a_001.pak", dir_ / "out/a_001.pak.copy");

    // Smaller: the volumes beyond the third go, with their key files.
    ASSERT_EQ(Pack("VolumeSize=\"2108\"").status, 0);
    EXPECT_EQ(Contents(), Sources(6));
    EXPECT_EQ(Listing(), (Names{"a.pak", "a.pak.set", "a.pak.zlk", "a_001.pak", "a_001.pak.copy", "a_001.pak.zlk",
                                "a_002.pak", "a_002.pak.zlk", "a_007.pak"}));

    // A volume rewritten by someone else since is not this set's: it stays.
    ASSERT_EQ(Pack("VolumeSize=\"1100\"").status, 0);
    testing::CopyOver(dir_ / "out/a_001.pak.copy", dir_ / "out/a_005.pak");
    ASSERT_EQ(Pack("VolumeSize=\"1100\"", 4).status, 0);
    EXPECT_EQ(Contents(), Sources(4));
    EXPECT_TRUE(Exists("out/a_005.pak"));
    EXPECT_FALSE(Exists("out/a_004.pak"));
    EXPECT_FALSE(Exists("out/a_004.pak.zlk"));
    EXPECT_TRUE(Exists("out/a_005.pak.zlk"));

    // Without VolumeSize the set becomes a lone archive, its manifest gone too.
    fs::remove(dir_ / "out/a_005.pak");
    fs::remove(dir_ / "out/a_005.pak.zlk");
    ASSERT_EQ(Pack("").status, 0);
    EXPECT_EQ(Contents(), Sources(6));
    EXPECT_EQ(Listing(), (Names{"a.pak", "a.pak.zlk", "a_001.pak.copy", "a_007.pak"}));
    // A file of the set's manifest's name that is no manifest is left alone.
    dir_.Write("out/a.pak.set", "notes");
    ASSERT_EQ(Pack("").status, 0);
    EXPECT_EQ(dir_.Read("out/a.pak.set"), "notes");
}

TEST_F(VolumeSetTest, AVolumeThatCannotBeCreatedLeavesTheLastSet)
{
    ASSERT_EQ(Pack("VolumeSize=\"2108\"", 2).status, 0);
    fs::create_directory(dir_ / "out/a_002.pak");
    const ToolRun run = Pack("VolumeSize=\"2108\"");
    EXPECT_EQ(run.err, "Cannot create out/a_002.pak!\n");
    EXPECT_EQ(run.status, 3);  // an output asked for was not written
    EXPECT_EQ(Contents(), Sources(2));
    EXPECT_EQ(Listing(), (Names{"a.pak", "a.pak.set", "a.pak.zlk", "a_002.pak"}));
}

TEST_F(VolumeSetTest, ASignalAtTheSetsCommit)
{
    ZELKOR_POSIX_ONLY("a child process stopped by a signal");
#ifndef _WIN32
    // Where the commit of a smaller set over a larger one stops, and what it
    // leaves: before its record the old set whole; once decided the new one,
    // completed by the next command when the process was killed outright.
    const struct {
        const char* where;
        void (*hook)();
        bool beforeRecord;
        bool committed;
    } rows[] = {
        {"SIGTERM before the record", [] { ::raise(SIGTERM); }, true, false},
        {"SIGINT before the record", [] { ::raise(SIGINT); }, true, false},
        {"SIGTERM between the renames", [] { ::raise(SIGTERM); }, false, true},
        {"SIGKILL between the renames", [] { ::raise(SIGKILL); }, false, true},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.where);
        fs::remove_all(dir_ / "out");
        fs::create_directory(dir_ / "out");
        ASSERT_EQ(Pack("VolumeSize=\"1100\"").status, 0);
        const Names old = Listing();
        const pid_t child = ::fork();
        if (child == 0) {
            SignalCleanup::Install();
            if (row.beforeRecord)
                JointCommit::SetHookBeforeRecord(row.hook);
            else
                JointCommit::SetHookBetweenRenames(row.hook);
            const NamedPath archive((dir_ / "out/a.pak").string());
            const NamedPath keyFile((dir_ / "out/a.pak.zlk").string());
            VolumeSetWriter writer;
            if (!writer.Create(archive, &keyFile, nullptr, 2108))
                ::_exit(3);
            FileJob job;
            for (int i = 0; i < 4; ++i) {
                std::optional<LoadedFile> loaded = job.Load((dir_ / Numbered("src/", i)).string());
                if (!loaded || writer.AddFile(Numbered("f", i), *loaded) != VolumeSetWriter::Added::Stored)
                    ::_exit(4);
            }
            writer.Close();
            ::_exit(0);
        }
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFSIGNALED(status));
        if (!row.committed) {
            EXPECT_EQ(Listing(), old);
            EXPECT_EQ(Contents(), Sources(6));
            continue;
        }
        // The next command that opens the set completes its commit first.
        if (WTERMSIG(status) == SIGKILL) {
            EXPECT_EQ(testing::RunInspect({"verify", "out/a.pak"}, dir_.path()).status, 0);
        }
        EXPECT_EQ(Contents(), Sources(4));
        const Names listing = Listing();
        EXPECT_EQ(std::count_if(listing.begin(), listing.end(), [](const std::string& name) { return name[0] == '.'; }),
                  0);
        // Killed outright, the retired volumes wait for the next build.
        EXPECT_EQ(Exists("out/a_003.pak"), WTERMSIG(status) == SIGKILL);
        ASSERT_EQ(Pack("VolumeSize=\"2108\"", 4).status, 0);
        EXPECT_EQ(Listing(), (Names{"a.pak", "a.pak.set", "a.pak.zlk", "a_001.pak", "a_001.pak.zlk"}));
    }
#endif
}

}  // namespace
}  // namespace zelkor
