#include "generate/directory_scanner.h"

#ifndef _WIN32
#include <unistd.h>
#endif

#include <filesystem>
#include <iostream>
#include <map>
#include <sstream>

#include <gtest/gtest.h>

#include "support/run_tool.h"
#include "support/system_tests.h"
#include "support/temp_dir.h"

namespace zelkor {
namespace {

namespace fs = std::filesystem;
using testing::TempDir;
using Paths = std::vector<std::string>;

// ---------------------------------------------------------------------------
// Scan order and failures, over listings held in memory

// A directory tree in memory: directory path -> entries ("name/" is a
// subdirectory). A path that is not in the map cannot be listed.
class FakeTree {
public:
    FakeTree& Dir(const std::string& path, std::vector<std::string> names)
    {
        dirs_[path] = std::move(names);
        return *this;
    }

    DirectoryScanner::Result Scan(const std::string& root)
    {
        return DirectoryScanner::Scan(root, [this](const std::string& path) {
            listed.push_back(path);
            auto it = dirs_.find(path);
            if (it == dirs_.end())
                return std::optional<DirectoryListing>();
            DirectoryListing listing;
            listing.inode = std::hash<std::string>()(path);
            for (std::string name : it->second) {
                const bool isDirectory = name.size() > 1 && name.back() == '/';
                if (isDirectory)
                    name.pop_back();
                listing.entries.push_back({name, isDirectory});
            }
            return std::optional<DirectoryListing>(std::move(listing));
        });
    }

    Paths listed;  // the paths handed to the lister, in order

private:
    std::map<std::string, std::vector<std::string>> dirs_;
};

TEST(DirectoryScannerTest, FilesFirstThenSubdirectoriesLastFoundFirst)
{
    FakeTree tree;
    tree.Dir("assets/ui/", {"..", "skins/", "font.ttf", ".", "icons/", "button.png"})
        .Dir("assets/ui/icons", {"a.png"})
        .Dir("assets/ui/skins", {"dark/", "c.png"})
        .Dir("assets/ui/skins/dark", {"b.png"});
    DirectoryScanner::Result result = tree.Scan("assets/ui/");
    EXPECT_EQ(result.paths,
              (Paths{"button.png", "font.ttf", "skins/c.png", "skins/dark/b.png", "icons/a.png"}));
    EXPECT_TRUE(result.unreadable.empty());
    EXPECT_EQ(tree.listed, (Paths{"assets/ui/", "assets/ui/skins", "assets/ui/skins/dark",
                                  "assets/ui/icons"}));
}

TEST(DirectoryScannerTest, RootSpellings)
{
    FakeTree tree;
    tree.Dir("in", {"sub/", "a"}).Dir("in/sub", {"b"});
    EXPECT_EQ(tree.Scan("in").paths, (Paths{"a", "sub/b"}));
    EXPECT_EQ(tree.listed, (Paths{"in", "in/sub"}));

    // An empty root is the working directory; paths below it get no prefix.
    FakeTree cwd;
    cwd.Dir(".", {"sub/", "a"}).Dir("sub", {"b"});
    EXPECT_EQ(cwd.Scan("").paths, (Paths{"a", "sub/b"}));
    EXPECT_EQ(cwd.listed, (Paths{".", "sub"}));
}

TEST(DirectoryScannerTest, UnreadableDirectoryIsSkippedAndNamed)
{
    // c and c's contents are missing; everything else, also what was still
    // pending when c failed, is listed.
    FakeTree tree;
    tree.Dir("root/", {"a.txt", "b/", "c/", "d/"})
        .Dir("root/b", {"x.txt", "locked/"})
        .Dir("root/d", {"z.txt"});
    DirectoryScanner::Result result = tree.Scan("root/");
    EXPECT_EQ(result.paths, (Paths{"a.txt", "d/z.txt", "b/x.txt"}));
    EXPECT_EQ(result.unreadable, (Paths{"root/c", "root/b/locked"}));

    // The root itself as given; the working directory as ".".
    EXPECT_EQ(tree.Scan("assets/ui/").unreadable, (Paths{"assets/ui/"}));
    EXPECT_EQ(tree.Scan("").unreadable, (Paths{"."}));
}

// ---------------------------------------------------------------------------
// Scans of real directories

class DirectoryScannerFsTest : public ::testing::Test {
protected:
    // The root with a trailing slash, as the script writer passes it.
    std::string Root() const { return dir_.path().string() + "/"; }
    DirectoryScanner::Result Scan() const { return DirectoryScanner::Scan(Root()); }
    void MakeDir(const std::string& relative) const { fs::create_directories(dir_ / relative); }

    TempDir dir_;
};

TEST_F(DirectoryScannerFsTest, NamesSortedWithLettersComparedAsUpperCase)
{
    if (testing::OnWindows) {
        // Names that differ only in case are one name there, and a backslash
        // separates.
        for (const char* name : {"b.txt", "A.txt", "_x", "Z", "C.TXT", "~", "[", "a", "\xC3\xA9.txt"})
            dir_.Write(name, "");
        dir_.Write("M/y", "");
        dir_.Write("m/x", "");
        EXPECT_EQ(Scan().paths,
                  (Paths{"a", "A.txt", "b.txt", "C.TXT", "Z", "[", "_x", "~", "\xC3\xA9.txt", "M/x", "M/y"}));
        return;
    }
    for (const char* name : {"b.txt", "A.txt", "_x", "a.txt", "Z", "B.TXT", "~", "[", "a",
                             "\xC3\xA9.txt", "back\\slash"})
        dir_.Write(name, "");
    dir_.Write("M/y", "");
    dir_.Write("m/x", "");
    EXPECT_EQ(Scan().paths, (Paths{"a", "A.txt", "a.txt", "B.TXT", "b.txt", "back\\slash", "Z", "[",
                                   "_x", "~", "\xC3\xA9.txt", "m/x", "M/y"}));
}

TEST_F(DirectoryScannerFsTest, HiddenNamesListedAndEmptyDirectoriesYieldNothing)
{
    EXPECT_TRUE(Scan().paths.empty());
    EXPECT_EQ(DirectoryScanner::Scan(Root() + "missing/").unreadable, (Paths{Root() + "missing/"}));
    MakeDir("empty/deeper");
    MakeDir(".git");
    EXPECT_TRUE(Scan().paths.empty());
    dir_.Write(".hidden", "");
    // Windows drops a name's trailing dots: "..." cannot be made there.
    if (!testing::OnWindows)
        dir_.Write("...", "");
    dir_.Write(".git/config", "");
    DirectoryScanner::Result result = Scan();
    if (testing::OnWindows)
        EXPECT_EQ(result.paths, (Paths{".hidden", ".git/config"}));
    else
        EXPECT_EQ(result.paths, (Paths{"...", ".hidden", ".git/config"}));
    EXPECT_TRUE(result.unreadable.empty());
}

TEST_F(DirectoryScannerFsTest, LinksAreFollowedButCyclesEnd)
{
    TempDir outside;
    outside.Write("g.txt", "");
    dir_.Write("real/f.txt", "");
    if (!(testing::MakeSymlink(dir_ / "real", dir_ / "alias", true) &&
          testing::MakeSymlink("..", dir_ / "real/loop", true) && testing::MakeSymlink(".", dir_ / "self", true) &&
          testing::MakeSymlink(outside.path(), dir_ / "ext", true) &&
          testing::MakeSymlink("missing", dir_ / "dangling") && testing::MakeSymlink("real/f.txt", dir_ / "filelink")))
        GTEST_SKIP() << "this system makes no symbolic links";
    DirectoryScanner::Result result = Scan();
    // self and real/loop lead back to a directory on their own way from the root;
    // alias reaches real a second way and lists it again.
    EXPECT_EQ(result.paths, (Paths{"dangling", "filelink", "real/f.txt", "ext/g.txt", "alias/f.txt"}));
    EXPECT_TRUE(result.unreadable.empty());
}

#ifndef _WIN32
// Runs the scan of `root` as an unprivileged user, for whom permissions count:
// directly when this process is not root, else in a child test process started
// through setpriv. Skips the test when neither is possible.
std::optional<DirectoryScanner::Result> ScanUnprivileged(const std::string& root, const fs::path& cwd)
{
    if (::geteuid() != 0)
        return DirectoryScanner::Scan(root);
    const std::string setpriv = "/usr/bin/setpriv";
    if (!fs::exists(setpriv))
        return std::nullopt;
    testing::ToolRun run = testing::RunProgram(
        setpriv,
        {"--reuid=65534", "--regid=65534", "--clear-groups", "/usr/bin/env",
         "ZELKOR_SCAN_ROOT=" + root, fs::read_symlink("/proc/self/exe").string(),
         "--gtest_filter=DirectoryScannerChild.DISABLED_ScanAndPrint",
         "--gtest_also_run_disabled_tests"},
        cwd);
    if (run.status == 126 || run.status == 127)  // the child could not be started
        return std::nullopt;
    EXPECT_EQ(run.status, 0) << run.out << run.err;

    DirectoryScanner::Result result;
    std::istringstream lines(run.out);
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind("path: ", 0) == 0)
            result.paths.push_back(line.substr(6));
        else if (line.rfind("unreadable: ", 0) == 0)
            result.unreadable.push_back(line.substr(12));
    }
    return result;
}

// The child half of the next test; does nothing unless started by it.
TEST(DirectoryScannerChild, DISABLED_ScanAndPrint)
{
    const char* root = std::getenv("ZELKOR_SCAN_ROOT");
    if (!root)
        GTEST_SKIP();
    DirectoryScanner::Result result = DirectoryScanner::Scan(root);
    for (const std::string& path : result.paths)
        std::cout << "path: " << path << "\n";
    for (const std::string& path : result.unreadable)
        std::cout << "unreadable: " << path << "\n";
    std::cout.flush();
}

#endif

TEST_F(DirectoryScannerFsTest, DirectoryWithoutPermissionIsSkipped)
{
    ZELKOR_POSIX_ONLY("permission bits");
#ifndef _WIN32
    dir_.Write("a.txt", "");
    dir_.Write("b/x.txt", "");
    dir_.Write("c/secret.txt", "");
    dir_.Write("c/inner/y.txt", "");
    dir_.Write("d/z.txt", "");
    fs::permissions(dir_.path(), fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                     fs::perms::others_read | fs::perms::others_exec);
    fs::permissions(dir_ / "c", fs::perms::none);

    std::optional<DirectoryScanner::Result> result = ScanUnprivileged(Root(), dir_.path());
    if (!result)
        GTEST_SKIP() << "cannot run the scan as an unprivileged user here";
    EXPECT_EQ(result->paths, (Paths{"a.txt", "d/z.txt", "b/x.txt"}));
    EXPECT_EQ(result->unreadable, (Paths{Root() + "c"}));
#endif
}

}  // namespace
}  // namespace zelkor
