#include "platform/file.h"
#include "platform/mapped_file.h"
#include "platform/output_guard.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include <gtest/gtest.h>

#include "support/temp_dir.h"

namespace zelkor {
namespace {

namespace fs = std::filesystem;
using testing::TempDir;

TEST(FileTest, WritesReadsAndReportsPosition)
{
    TempDir dir;
    const std::string path = (dir / "f").string();
    {
        File file = File::Open(path, O_WRONLY | O_CREAT | O_TRUNC);
        ASSERT_TRUE(file.IsOpen());
        EXPECT_EQ(file.Path(), path);
        EXPECT_TRUE(file.WriteAll("hello", 5));
        EXPECT_EQ(file.Position(), 5u);
        File moved = std::move(file);
        EXPECT_FALSE(file.IsOpen());
        EXPECT_TRUE(moved.WriteAll(" world", 6));
        EXPECT_TRUE(moved.Close());
        EXPECT_FALSE(moved.IsOpen());
        EXPECT_TRUE(moved.Close());
    }
    File file = File::Open(path, O_RDONLY);
    char buffer[32] = {};
    EXPECT_EQ(file.ReadUpTo(buffer, sizeof buffer), 11u);
    EXPECT_EQ(std::string(buffer), "hello world");
    EXPECT_EQ(file.ReadUpTo(buffer, sizeof buffer), 0u);
}

TEST(FileTest, FailuresAreReported)
{
    TempDir dir;
    EXPECT_FALSE(File::Open((dir / "missing/f").string(), O_WRONLY | O_CREAT).IsOpen());
    File readOnly = File::Open(dir.Write("r", "x").string(), O_RDONLY);
    ASSERT_TRUE(readOnly.IsOpen());
    EXPECT_FALSE(readOnly.WriteAll("y", 1));
    File directory = File::Open(dir.path().string(), O_RDONLY);
    char byte;
    EXPECT_FALSE(directory.ReadUpTo(&byte, 1).has_value());
}

TEST(FileTest, OpensRelativeToAnOpenDirectory)
{
    TempDir dir;
    dir.Write("sub/f", "inside");
    File sub = File::Open((dir / "sub").string(), O_RDONLY | O_DIRECTORY);
    ASSERT_TRUE(sub.IsOpen());
    File file = File::OpenAt(sub, "f", O_RDONLY);
    ASSERT_TRUE(file.IsOpen());
    EXPECT_EQ(file.Path(), (dir / "sub").string() + "/f");
    char buffer[16] = {};
    EXPECT_EQ(file.ReadUpTo(buffer, sizeof buffer), 6u);
    EXPECT_EQ(std::string(buffer), "inside");

    // The directory stays the one opened, even when its path now names another.
    fs::rename(dir / "sub", dir / "moved");
    EXPECT_TRUE(File::OpenAt(sub, "f", O_RDONLY).IsOpen());
    EXPECT_FALSE(File::OpenAt(sub, "missing", O_RDONLY).IsOpen());
}

TEST(MappedFileTest, AFileCutShortWhileMappedReadsAsZerosAndSaysSo)
{
    TempDir dir;
    const std::string content(1 << 20, 'm');
    File file = File::Open(dir.Write("f", content).string(), O_RDWR);
    std::optional<MappedFile> mapped = MappedFile::Map(file, content.size());
    ASSERT_TRUE(mapped);
    EXPECT_EQ(mapped->Bytes()[content.size() - 1], 'm');
    ASSERT_EQ(::ftruncate(file.Descriptor(), 4096), 0);
    unsigned sum = 0;
    {
        MappedFile::Reading reading(*mapped);
        for (const std::uint8_t byte : mapped->Bytes())
            sum += byte;
    }
    EXPECT_TRUE(mapped->Damaged());
    EXPECT_EQ(sum, 4096u * 'm');
}

TEST(OutputGuardTest, ReplacesTheTargetOnlyOnCommit)
{
    TempDir dir;
    dir.Write("target", "old");
    {
        OutputGuard guard((dir / "target").string());
        ASSERT_TRUE(guard.Open());
        ASSERT_TRUE(guard.Output().WriteAll("new content", 11));
        EXPECT_EQ(dir.Read("target"), "old");
    }  // abandoned: the old content stays, nothing else is left behind
    EXPECT_EQ(dir.Read("target"), "old");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 1);

    OutputGuard guard((dir / "target").string());
    ASSERT_TRUE(guard.Open());
    ASSERT_TRUE(guard.Output().WriteAll("new", 3));
    ASSERT_TRUE(guard.Commit());
    EXPECT_EQ(dir.Read("target"), "new");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 1);
}

TEST(OutputGuardTest, UnwritableTargets)
{
    TempDir dir;
    OutputGuard missingDirectory((dir / "missing/target").string());
    EXPECT_FALSE(missingDirectory.Open());
    EXPECT_FALSE(missingDirectory.Commit());

    // A directory in the way is refused before anything is written.
    fs::create_directories(dir / "busy/inner");
    OutputGuard directory((dir / "busy").string());
    EXPECT_FALSE(directory.Open());
    EXPECT_FALSE(directory.Commit());
    EXPECT_TRUE(fs::is_directory(dir / "busy/inner"));
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 1);
}

TEST(OutputGuardTest, LinksStayLinksAndAttributesStay)
{
    TempDir dir;
    dir.Write("real", "old");
    ASSERT_EQ(::chmod((dir / "real").c_str(), 0640), 0);
    fs::create_symlink("real", dir / "link");
    OutputGuard guard((dir / "link").string());
    ASSERT_TRUE(guard.Open());
    ASSERT_TRUE(guard.Output().WriteAll("new", 3));
    ASSERT_TRUE(guard.Commit());
    EXPECT_TRUE(fs::is_symlink(dir / "link"));
    EXPECT_EQ(dir.Read("real"), "new");
    EXPECT_EQ(fs::status(dir / "real").permissions(),
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
}

TEST(OutputGuardTest, LongNamesFitAndLocksExclude)
{
    TempDir dir;
    // A name near the limit still gets a temporary file and a lock beside it.
    const std::string name(250, 'n');
    EXPECT_LE(OutputGuard::HiddenName(name, "XXXXXX").size(), 255u);
    EXPECT_NE(OutputGuard::HiddenName(name, "lock"), OutputGuard::HiddenName(name + "m", "lock"));
    OutputGuard first((dir / name).string(), {.lock = true, .sync = true});
    ASSERT_TRUE(first.Open());

    // The lock holds against any spelling of the path.
    OutputGuard second((dir / "." / name).string(), {.lock = true, .sync = false});
    EXPECT_FALSE(second.Open());
    EXPECT_TRUE(second.Held());
    ASSERT_TRUE(first.Commit());
    EXPECT_TRUE(second.Open());
    second.Discard();
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 1);
}

}  // namespace
}  // namespace zelkor
