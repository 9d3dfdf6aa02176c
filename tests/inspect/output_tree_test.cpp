// Writing below the extraction directory: never over an existing file unless
// asked to, and a clear outcome for whatever stands in the way. (Links are
// covered end to end in extract_safety_test.cpp.)
#include "inspect/output_tree.h"

#ifndef _WIN32
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <filesystem>

#include <gtest/gtest.h>

#include "platform/file_system.h"
#include "support/system_tests.h"
#include "support/temp_dir.h"

namespace zelkor {
namespace {

namespace fs = std::filesystem;
using testing::TempDir;
using Outcome = OutputTree::Outcome;
using Path = std::vector<std::string>;

std::span<const std::uint8_t> Bytes(std::string_view text)
{
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

#ifndef _WIN32
// CPU time this thread has spent in its own code, not in the system's.
double UserSeconds()
{
    struct rusage usage {};
    ::getrusage(RUSAGE_THREAD, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec) + static_cast<double>(usage.ru_utime.tv_usec) / 1e6;
}

// Removes a chain of directories named `name` below `root`, ending in a file
// of that name, however deep: paths that long cannot be removed by path.
void RemoveChain(const fs::path& root, const std::string& name)
{
    int fd = ::open(root.c_str(), O_RDONLY | O_DIRECTORY);
    std::size_t depth = 0;
    for (int next; (next = ::openat(fd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW)) >= 0; ++depth) {
        ::close(fd);
        fd = next;
    }
    ::unlinkat(fd, name.c_str(), 0);
    for (; depth > 0; --depth) {
        const int parent = ::openat(fd, "..", O_RDONLY | O_DIRECTORY);
        ::close(fd);
        fd = parent;
        ASSERT_EQ(::unlinkat(fd, name.c_str(), AT_REMOVEDIR), 0);
    }
    ::close(fd);
}

#endif

class OutputTreeTest : public ::testing::Test {
protected:
    OutputTreeTest() : tree_((dir_ / "out").string()) {}

    TempDir dir_;
    OutputTree tree_;
};

TEST_F(OutputTreeTest, WritesFilesAndTheDirectoriesOnTheWay)
{
    EXPECT_EQ(tree_.Write({"a", "b", "c.txt"}, Bytes("abc"), false).outcome, Outcome::Written);
    EXPECT_EQ(tree_.Write({"a", "d.txt"}, Bytes(""), false).outcome, Outcome::Written);
    EXPECT_EQ(dir_.Read("out/a/b/c.txt"), "abc");
    EXPECT_EQ(dir_.Read("out/a/d.txt"), "");
    EXPECT_TRUE(tree_.Holds({"a", "b", "c.txt"}, Bytes("abc")));
    EXPECT_FALSE(tree_.Holds({"a", "b", "c.txt"}, Bytes("abd")));
    EXPECT_FALSE(tree_.Holds({"a", "b", "c.txt"}, Bytes("abcd")));
    EXPECT_FALSE(tree_.Holds({"a", "missing"}, Bytes("")));
    EXPECT_EQ(tree_.Display({"a", "b", "c.txt"}, 2), (dir_ / "out").string() + "/a/b");
}

TEST_F(OutputTreeTest, KeepsExistingFilesUnlessReplacing)
{
    dir_.Write("out/f", "old");
    const OutputTree::Result kept = tree_.Write({"f"}, Bytes("new"), false);
    EXPECT_EQ(kept.outcome, Outcome::Exists);
    EXPECT_NE(kept.detail.find("out/f exists with other content"), std::string::npos) << kept.detail;
    EXPECT_EQ(dir_.Read("out/f"), "old");

    EXPECT_EQ(tree_.Write({"f"}, Bytes("new"), true).outcome, Outcome::Written);
    EXPECT_EQ(dir_.Read("out/f"), "new");
    // The same content is left alone, replacing or not: the file keeps its inode.
    const auto inode = [&] {
        const std::optional<FileStatus> status = StatusOf((dir_ / "out/f").string());
        EXPECT_TRUE(status);
        return status ? status->inode : 0;
    };
    const auto before = inode();
    for (const bool replace : {false, true})
        EXPECT_EQ(tree_.Write({"f"}, Bytes("new"), replace).outcome, Outcome::Unchanged);
    EXPECT_EQ(inode(), before);
    // No temporary file stays behind.
    EXPECT_EQ(std::distance(fs::directory_iterator(dir_ / "out"), fs::directory_iterator()), 1);
}

TEST_F(OutputTreeTest, ReportsWhatStandsInTheWay)
{
    dir_.Write("out/file", "x");
    fs::create_directories(dir_ / "out/dir/sub");
    const OutputTree::Result underFile = tree_.Write({"file", "x"}, Bytes("y"), true);
    EXPECT_EQ(underFile.outcome, Outcome::Blocked);
    EXPECT_NE(underFile.detail.find("file is not a directory"), std::string::npos) << underFile.detail;
    EXPECT_EQ(tree_.Write({"dir"}, Bytes("y"), false).outcome, Outcome::Blocked);
    EXPECT_EQ(tree_.Write({"dir"}, Bytes("y"), true).outcome, Outcome::Blocked);
    EXPECT_FALSE(tree_.Write({"dir"}, Bytes("y"), false).madeFor);
    // A directory that this tree made is told with the write it was made for.
    EXPECT_EQ(tree_.Write({"made", "f"}, Bytes("f"), false, 7).outcome, Outcome::Written);
    const OutputTree::Result made = tree_.Write({"made"}, Bytes("y"), true, 8);
    EXPECT_EQ(made.outcome, Outcome::Blocked);
    EXPECT_EQ(made.madeFor, std::optional<std::uint64_t>(7));
    EXPECT_TRUE(fs::is_directory(dir_ / "out/dir/sub"));
    EXPECT_EQ(tree_.Write({std::string(300, 'n')}, Bytes("y"), false).outcome, Outcome::Failed);
}

TEST(OutputTreeDeepTest, TimeGrowsWithAPathsLengthNotItsSquare)
{
    ZELKOR_POSIX_ONLY("the thread's own processor time (getrusage) and openat to clean up");
#ifndef _WIN32
    // Thousands of nested directories are made and removed in memory where the
    // system allows, since a disk may take seconds to remove them.
    const TempDir dir(fs::is_directory("/dev/shm") ? fs::path("/dev/shm") : fs::path());
    OutputTree tree((dir / "out").string());
    // 4,096 components, a name of 8,191 bytes. The system's own work (one
    // directory made and opened per component) is not counted.
    const Path deep(4096, "a");
    const double start = UserSeconds();
    EXPECT_EQ(tree.Write(deep, Bytes("x"), false).outcome, Outcome::Written);
    EXPECT_TRUE(tree.Holds(deep, Bytes("x")));
    EXPECT_EQ(tree.Write(deep, Bytes("x"), true).outcome, Outcome::Unchanged);
    [[maybe_unused]] const double spent = UserSeconds() - start;
#ifndef ZELKOR_SANITIZED
    // Under 1 ms; 60 ms when every component copied the path so far.
    EXPECT_LT(spent, 0.02);
#endif
    RemoveChain(dir / "out", "a");
#endif
}

TEST(OutputTreeRootTest, CreatesTheRootOrSaysWhyNot)
{
    TempDir dir;
    EXPECT_NO_THROW(OutputTree((dir / "new/deeper").string()));
    EXPECT_TRUE(fs::is_directory(dir / "new/deeper"));
    dir.Write("plain", "x");
    EXPECT_THROW(OutputTree((dir / "plain").string()), std::runtime_error);
}

}  // namespace
}  // namespace zelkor
