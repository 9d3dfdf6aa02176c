#include "platform/directory.h"
#include "output/output_guard.h"
#include "platform/file.h"
#include "platform/file_system.h"
#include "platform/mapped_file.h"

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <limits>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "support/system_tests.h"
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
        File file = File::Open(path, OpenFlags::Write | OpenFlags::Create | OpenFlags::Truncate);
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
    File file = File::Open(path, OpenFlags::Read);
    char buffer[32] = {};
    EXPECT_EQ(file.ReadUpTo(buffer, sizeof buffer), 11u);
    EXPECT_EQ(std::string(buffer), "hello world");
    EXPECT_EQ(file.ReadUpTo(buffer, sizeof buffer), 0u);
}

TEST(FileTest, FailuresAreReported)
{
    TempDir dir;
    EXPECT_FALSE(File::Open((dir / "missing/f").string(), OpenFlags::Write | OpenFlags::Create).IsOpen());
    File readOnly = File::Open(dir.Write("r", "x").string(), OpenFlags::Read);
    ASSERT_TRUE(readOnly.IsOpen());
    EXPECT_FALSE(readOnly.WriteAll("y", 1));
    File directory = File::Open(dir.path().string(), OpenFlags::Read);
    char byte;
    EXPECT_FALSE(directory.ReadUpTo(&byte, 1).has_value());
}

TEST(FileTest, OpensRelativeToAnOpenDirectory)
{
    TempDir dir;
    dir.Write("sub/f", "inside");
    File sub = File::Open((dir / "sub").string(), OpenFlags::Read | OpenFlags::Directory);
    ASSERT_TRUE(sub.IsOpen());
    File file = File::OpenAt(sub, "f", OpenFlags::Read);
    ASSERT_TRUE(file.IsOpen());
    EXPECT_EQ(file.Path(), (dir / "sub").string() + "/f");
    char buffer[16] = {};
    EXPECT_EQ(file.ReadUpTo(buffer, sizeof buffer), 6u);
    EXPECT_EQ(std::string(buffer), "inside");

    // The directory stays the one opened, even when its path now names another.
    if (testing::RunningUnderWine())
        return;
    fs::rename(dir / "sub", dir / "moved");
    EXPECT_TRUE(File::OpenAt(sub, "f", OpenFlags::Read).IsOpen());
    EXPECT_FALSE(File::OpenAt(sub, "missing", OpenFlags::Read).IsOpen());
}

TEST(FileTest, PositionedAndGatheredTransfers)
{
    TempDir dir;
    File file = File::Open((dir / "f").string(), OpenFlags::ReadWrite | OpenFlags::Create);
    ASSERT_TRUE(file.WriteAt(4, "world", 5));
    ASSERT_TRUE(file.WriteAt(0, "helo", 4));
    EXPECT_EQ(file.Position(), 0u);  // positioned writes leave the position alone
    EXPECT_EQ(dir.Read("f"), "heloworld");

    // Gathered: the pieces fill one after the other; empty ones are skipped;
    // the end of the file ends the read early.
    std::uint8_t first[3] = {}, second[8] = {};
    EXPECT_EQ(file.ReadAt(1, {std::span(first), std::span<std::uint8_t>(), std::span(second)}), 8u);
    EXPECT_EQ(std::string(first, first + 3), "elo");
    EXPECT_EQ(std::string(second, second + 5), "world");
    EXPECT_EQ(file.ReadAt(9, {std::span(first)}), 0u);
    // Positioned reads leave the position alone too, from any thread: a
    // sequential write goes where the position was.
    std::vector<std::thread> readers;
    for (int i = 0; i < 4; ++i)
        readers.emplace_back([&file] {
            char byte = 0;
            for (int n = 0; n < 100; ++n)
                EXPECT_EQ(file.ReadAt(5, &byte, 1), 1u);
        });
    for (std::thread& reader : readers)
        reader.join();
    EXPECT_EQ(file.Position(), 0u);
    ASSERT_TRUE(file.WriteAll("H", 1));
    EXPECT_EQ(dir.Read("f"), "Heloworld");

    ASSERT_TRUE(file.Truncate(2));
    EXPECT_EQ(file.Status()->size, 2u);
    ASSERT_TRUE(file.Truncate(6));
    EXPECT_EQ(dir.Read("f"), std::string("He\0\0\0\0", 6));
}

TEST(FileTest, CallsRelativeToADirectory)
{
    TempDir dir;
    dir.Write("d/file", "12345");
    const bool linked = testing::MakeSymlink("file", dir / "d/link");
    const File d = File::Open((dir / "d").string(), OpenFlags::Read | OpenFlags::Directory);
    ASSERT_TRUE(d.IsOpen());

    EXPECT_EQ(d.StatusAt("file")->size, 5u);
    EXPECT_TRUE(d.StatusAt("file")->IsRegular());
    if (linked) {
        EXPECT_TRUE(d.StatusAt("link")->IsLink());  // the link itself, not its file
    }
    EXPECT_FALSE(d.StatusAt("missing"));

    ASSERT_TRUE(d.MakeDirectoryAt("sub"));
    EXPECT_FALSE(d.MakeDirectoryAt("sub"));
    EXPECT_EQ(errno, EEXIST);
    EXPECT_TRUE(d.StatusAt("sub")->IsDirectory());
    EXPECT_FALSE(d.RemoveAt("sub"));  // files only

    // Without replace, anything at the new name stays; with it, a file is replaced.
    dir.Write("d/other", "x");
    EXPECT_FALSE(d.RenameAt("other", "file", false));
    EXPECT_EQ(errno, EEXIST);
    EXPECT_EQ(dir.Read("d/file"), "12345");
    EXPECT_TRUE(d.RenameAt("other", "moved", false));
    EXPECT_TRUE(d.RenameAt("moved", "file", true));
    EXPECT_EQ(dir.Read("d/file"), "x");

    if (linked) {
        EXPECT_TRUE(d.RemoveAt("link"));
    }
    EXPECT_TRUE(fs::exists(dir / "d/file"));
    EXPECT_FALSE(d.RemoveAt(std::string("file\0x", 6)));
    EXPECT_EQ(errno, EINVAL);
}

TEST(FileTest, TimesAndAttributes)
{
    ZELKOR_POSIX_ONLY("permission bits");
    TempDir dir;
    const fs::path path = dir.Write("f", "x");
    fs::last_write_time(path, fs::file_time_type::clock::now() - std::chrono::hours(24));
    File file = File::Open(path.string(), OpenFlags::Read);
    const FileStatus before = *file.Status();
    ASSERT_TRUE(file.Touch());
    const FileStatus after = *file.Status();
    EXPECT_GE(after.modifiedNanoseconds - before.modifiedNanoseconds, 23LL * 3600 * 1'000'000'000);
    EXPECT_GE(after.changedNanoseconds, after.modifiedNanoseconds);

    FileStatus wanted = after;
    wanted.permissions = 0604;
    file.TakeAttributesOf(wanted);
    EXPECT_EQ(file.Status()->permissions, 0604u);
    EXPECT_EQ(file.Status()->owner, after.owner);
}

#ifndef _WIN32
TEST(FileTest, TimesBeyondTheRangeAreHeldAtItsEnds)
{
    // Anyone may date a file past 2262, where nanoseconds since the epoch no
    // longer fit in 64 bits.
    TempDir dir;
    const fs::path path = dir.Write("f", "x");
    const timespec far[2] = {{10'413'792'000, 5}, {10'413'792'000, 5}};  // the year 2300
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), far, 0), 0);
    struct stat info {};
    ASSERT_EQ(::stat(path.c_str(), &info), 0);
    if (info.st_mtim.tv_sec != far[1].tv_sec)
        GTEST_SKIP() << "the file system keeps no such time";
    EXPECT_EQ(StatusOf(path.string())->modifiedNanoseconds, std::numeric_limits<std::int64_t>::max());
    EXPECT_EQ(File::Open(path.string(), OpenFlags::Read).Status()->modifiedNanoseconds,
              std::numeric_limits<std::int64_t>::max());
}
#endif

TEST(FileTest, StatusTellsWhereTheFileLives)
{
    ZELKOR_POSIX_ONLY("mounts and /proc");
    TempDir dir;
    const std::string file = dir.Write("f", "x").string();
    const struct {
        std::string path;
        bool keepsChangeTime;  // when the test's directory is on a file system that does
    } cases[] = {
        {file, true},
        {"/proc/version", false},  // the kernel's word, no file system's
    };
    std::optional<FileStatus> first;
    for (const auto& c : cases) {
        const std::optional<FileStatus> byPath = StatusOf(c.path);
        const std::optional<FileStatus> opened = File::Open(c.path, OpenFlags::Read).Status();
        ASSERT_TRUE(byPath && opened) << c.path;
        EXPECT_NE(byPath->mount, 0u) << c.path;
        EXPECT_EQ(byPath->mount, opened->mount) << c.path;
        EXPECT_EQ(byPath->fileSystem, opened->fileSystem) << c.path;
        EXPECT_EQ(byPath->keepsChangeTime, opened->keepsChangeTime) << c.path;
        EXPECT_TRUE(c.keepsChangeTime || !byPath->keepsChangeTime) << c.path;
        if (first) {
            EXPECT_NE(byPath->mount, first->mount) << c.path;
        } else {
            first = byPath;
        }
    }
    // The test's own directory is on ext4 or tmpfs wherever this suite runs.
    EXPECT_TRUE(first->keepsChangeTime) << "the temporary directory's file system is not trusted";
    // Listings leave it out.
    EXPECT_EQ(Directory::Open(dir.path().string())->List()->at(0).status.mount, 0u);
}

TEST(FileSystemTest, CallsOnPaths)
{
    TempDir dir;
    const std::string base = dir.path().string();
    ASSERT_TRUE(MakeDirectories(base + "/a/b/c/"));
    EXPECT_TRUE(MakeDirectories(base + "/a/b"));  // there already
    EXPECT_TRUE(StatusOf(base + "/a/b/c")->IsDirectory());
    dir.Write("a/file", "abc");
    EXPECT_FALSE(MakeDirectories(base + "/a/file/d"));
    EXPECT_FALSE(MakeDirectory(base + "/a/b"));
    EXPECT_EQ(errno, EEXIST);

    if (testing::MakeSymlink("file", dir / "a/link")) {
        EXPECT_TRUE(StatusOf(base + "/a/link")->IsRegular());
        EXPECT_TRUE(StatusOf(base + "/a/link", FollowLinks::No)->IsLink());
        // POSIX systems give the link's text; Windows the file it leads to, whole.
        if (testing::OnWindows)
            EXPECT_EQ(NamePart(*ReadLink(base + "/a/link")), "file");
        else
            EXPECT_EQ(ReadLink(base + "/a/link"), "file");
    }
    EXPECT_FALSE(ReadLink(base + "/a/file"));
    EXPECT_FALSE(StatusOf(base + std::string("/a/file\0", 8)));

    ASSERT_TRUE(RenameFile(base + "/a/file", base + "/a/renamed"));
    EXPECT_EQ(dir.Read("a/renamed"), "abc");
    EXPECT_TRUE(RemoveFile(base + "/a/renamed"));
    EXPECT_FALSE(RemoveFile(base + "/a/renamed"));
    EXPECT_EQ(errno, ENOENT);
    EXPECT_GT(ProcessId(), 0u);
}

TEST(FileSystemTest, MakeDirectoriesMakesWhatIsMissingAndAbsolutePathsStartFromTheWorkingDirectory)
{
    TempDir dir;
    const std::string base = dir.path().generic_string();
    dir.Write("file", "x");
    struct Case {
        std::string path;
        int error;  // 0: made, or there already
    };
    const std::vector<Case> cases = {
        {base + "/a/b/c", 0},
        {base + "/a/b/c", 0},
        {base + "/d/e//", 0},
        {base + "/file/f", ENOTDIR},
        {base + "/file", ENOTDIR},
        {"", ENOENT},
        {base + std::string("/g\0h", 4), EINVAL},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        errno = 0;
        EXPECT_EQ(MakeDirectories(c.path), c.error == 0);
        if (c.error != 0) {
            EXPECT_EQ(errno, c.error);
        } else {
            EXPECT_TRUE(StatusOf(c.path)->IsDirectory());
        }
    }

    EXPECT_EQ(AbsolutePath(base), base);
    EXPECT_EQ(AbsolutePath("rel/x"), fs::current_path().generic_string() + "/rel/x");
}

TEST(MappedFileTest, AFileCutShortWhileMappedReadsAsZerosAndSaysSo)
{
    TempDir dir;
    const std::string content(1 << 20, 'm');
    File file = File::Open(dir.Write("f", content).string(), OpenFlags::ReadWrite);
    std::optional<MappedFile> mapped = MappedFile::Map(file, content.size());
    ASSERT_TRUE(mapped);
    EXPECT_EQ(mapped->Bytes()[content.size() - 1], 'm');
    if (testing::OnWindows) {
        // Windows refuses to cut a mapped file short: the mapping stays whole.
        EXPECT_FALSE(file.Truncate(4096));
        EXPECT_EQ(errno, EBUSY);
        EXPECT_EQ(mapped->Bytes()[content.size() - 1], 'm');
        EXPECT_FALSE(mapped->Damaged());
        return;
    }
    ASSERT_TRUE(file.Truncate(4096));
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
    ZELKOR_POSIX_ONLY("permission bits");
#ifndef _WIN32
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
#endif
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
