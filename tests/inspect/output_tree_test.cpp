// Writing below the extraction directory: never over an existing file unless
// asked to, and a clear outcome for whatever stands in the way. (Links are
// covered end to end in extract_safety_test.cpp.)
#include "inspect/output_tree.h"

#include <filesystem>

#include <gtest/gtest.h>

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
    EXPECT_NE(kept.detail.find("out/f exists"), std::string::npos) << kept.detail;
    EXPECT_EQ(dir_.Read("out/f"), "old");

    EXPECT_EQ(tree_.Write({"f"}, Bytes("new"), true).outcome, Outcome::Written);
    EXPECT_EQ(dir_.Read("out/f"), "new");
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
    EXPECT_EQ(tree_.Write({"dir"}, Bytes("y"), false).outcome, Outcome::Exists);
    EXPECT_EQ(tree_.Write({"dir"}, Bytes("y"), true).outcome, Outcome::Blocked);
    EXPECT_TRUE(fs::is_directory(dir_ / "out/dir/sub"));
    EXPECT_EQ(tree_.Write({std::string(300, 'n')}, Bytes("y"), false).outcome, Outcome::Failed);
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
