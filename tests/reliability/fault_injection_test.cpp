// The archiver under faults from outside: a full disk, sources that change or are
// not files, outputs held by another process or placed where no file can be,
// names at the format's limits, a source larger than the load buffers.
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include <gtest/gtest.h>

#include <xxhash.h>

#include "archive/archive_format.h"
#include "archive/archive_writer.h"
#include "archive/loaded_file.h"
#include "output/joint_commit.h"
#include "platform/file.h"
#include "support/archive_contents.h"
#include "support/run_tool.h"
#include "support/temp_dir.h"
#include "support/test_data.h"

namespace zelkor {
namespace {

using testing::RandomBytes;

namespace fs = std::filesystem;
using testing::ArchivedContents;
using testing::ArchivedNames;
using testing::ReadArchive;
using testing::TempDir;
using testing::ToolRun;
using Names = std::vector<std::string>;

// `prefix` followed by the number `n`.
std::string Numbered(const std::string& prefix, int n)
{
    return prefix + std::to_string(n);
}

std::string FileElement(const std::string& archived, const std::string& source)
{
    return "<File ArchivedPath=\"" + archived + "\"><![CDATA[" + source + "]]></File>\n";
}

std::string PackScript(const std::string& archive, const std::string& files, bool keyFile = false)
{
    return "<ScriptFile><CreateOrvanPack ArchivePath=\"" + archive + "\" BuildKeyfile=\"" +
           (keyFile ? "true" : "false") + "\">\n" + files + "</CreateOrvanPack></ScriptFile>\n";
}

class FaultInjectionTest : public ::testing::Test {
protected:
    ToolRun Run(const std::vector<std::string>& args) { return testing::RunZelkor(args, dir_.path()); }

    // Runs the archiver with files limited to `limit` bytes: a write past the
    // limit fails as on a full disk. The archiver itself ignores the signal that
    // the limit would otherwise end it with.
    ToolRun RunWithFileSizeLimit(std::size_t limit, const std::vector<std::string>& args)
    {
        return RunLimited("ulimit -f " + std::to_string(limit / 1024), args);
    }

    // Runs the archiver after the shell command `limit` (a ulimit).
    ToolRun RunLimited(const std::string& limit, const std::vector<std::string>& args)
    {
        std::vector<std::string> shell = {"-c", limit + "; exec \"$0\" \"$@\"", ZELKOR_BINARY};
        shell.insert(shell.end(), args.begin(), args.end());
        return testing::RunProgram("/bin/bash", shell, dir_.path());
    }

    TempDir dir_;
};

TEST_F(FaultInjectionTest, FullDiskEndsTheRunAndLeavesNothingThatPassesForAnArchive)
{
    dir_.Write("big", RandomBytes(300 * 1024, 1));
    dir_.Write("small", "small file");
    dir_.Write("assets/a.txt", "a");
    dir_.Write("big.xml", PackScript("big.pak", FileElement("s", "small") + FileElement("b", "big"), true));
    dir_.Write("small.xml", PackScript("small.pak", FileElement("s", "small")));

    ToolRun run = RunWithFileSizeLimit(100 * 1024, {"big.xml"});
    EXPECT_EQ(run.err, "Cannot write big.pak!\n");
    EXPECT_EQ(run.status, 2);
    EXPECT_FALSE(fs::exists(dir_ / "big.pak"));
    EXPECT_FALSE(fs::exists(dir_ / "big.pak.zlk"));

    // Another script of the same run, if it got to run, left a valid archive.
    run = RunWithFileSizeLimit(100 * 1024, {"small.xml", "big.xml"});
    EXPECT_EQ(run.err, "Cannot write big.pak!\n");
    EXPECT_EQ(run.status, 2);
    if (fs::exists(dir_ / "small.pak")) {
        EXPECT_EQ(ArchivedContents(ReadArchive(dir_ / "small.pak")), Names{"small file"});
    }

    // The message names the archive as the script wrote it, backslashes included.
    fs::create_directory(dir_ / "out");
    dir_.Write("windows.xml", PackScript("out\\big.pak", FileElement("b", "big"), true));
    run = RunWithFileSizeLimit(100 * 1024, {"windows.xml"});
    EXPECT_EQ(run.err, "Cannot write out\\big.pak!\n");
    EXPECT_EQ(run.status, 2);
    EXPECT_TRUE(fs::is_empty(dir_ / "out"));

    // A generated script that does not fit leaves the old one untouched.
    std::string generate = "<ScriptFile><CreateOrvanPackXml Input=\"assets:";
    generate += std::string(4000, 'p');
    generate += "\" XmlPath=\"gen.xml\" ArchivePath=\"a.pak\"/></ScriptFile>";
    dir_.Write("generate.xml", generate);
    dir_.Write("gen.xml", "old script");
    run = RunWithFileSizeLimit(2048, {"generate.xml"});
    EXPECT_EQ(run.err, "Cannot write gen.xml!\n");
    EXPECT_EQ(run.status, 3);
    EXPECT_EQ(dir_.Read("gen.xml"), "old script");
}

TEST_F(FaultInjectionTest, SourcesThatChangeOrAreNotFiles)
{
    dir_.Write("tree/keep.txt", std::string(20000, 'k'));
    dir_.Write("tree/gone.txt", "gone");
    dir_.Write("tree/shrinks.txt", std::string(20000, 's'));
    dir_.Write("generate.xml", "<ScriptFile><CreateOrvanPackXml Input=\"tree\" XmlPath=\"gen.xml\" "
                               "ArchivePath=\"a.pak\"/></ScriptFile>");
    ASSERT_EQ(Run({"generate.xml"}).status, 0);
    // Between the scan and the pack, one file disappears and one shrinks.
    fs::remove(dir_ / "tree/gone.txt");
    dir_.Write("tree/shrinks.txt", "short now");

    ToolRun run = Run({"gen.xml"});
    EXPECT_EQ(run.err, "Cannot compress tree/gone.txt!\n");
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(ArchivedContents(ReadArchive(dir_ / "a.pak")),
              (Names{std::string(20000, 'k'), "short now"}));

    // A FIFO without a writer, a directory and a dangling link are refused at once.
    ASSERT_EQ(::mkfifo((dir_ / "fifo").c_str(), 0600), 0);
    fs::create_directory(dir_ / "folder");
    fs::create_symlink("nowhere", dir_ / "dangling");
    dir_.Write("odd.xml", PackScript("odd.pak", FileElement("f", "fifo") + FileElement("d", "folder") +
                                                    FileElement("l", "dangling")));
    run = Run({"odd.xml"});
    EXPECT_EQ(run.err, "Cannot compress fifo!\nCannot compress folder!\nCannot compress dangling!\n"
                       "odd.pak not written: none of its 3 files could be stored!\n");
    EXPECT_EQ(run.status, 3);
    EXPECT_FALSE(fs::exists(dir_ / "odd.pak"));

    // A command never reads its own outputs, by any spelling or link; a file whose
    // size the system reports as 0 is read to its end; a NUL (&#0;) never cuts a
    // path short.
    fs::create_symlink("own.pak", dir_ / "own-link");
    dir_.Write("own.pak", "an earlier own.pak");
    dir_.Write("own.pak.zlk", "an earlier key file");
    dir_.Write("own.xml",
               "<ScriptFile><CreateOrvanPack ArchivePath=\"own.pak\" BuildKeyfile=\"1\">\n" +
                   FileElement("a", "own.pak") + FileElement("b", "./own-link") + FileElement("k", "own.pak.zlk") +
                   FileElement("p", "/proc/version") + "<File ArchivedPath=\"n\">src&#0;.x</File>\n" +
                   "<File ArchivedPath=\"n&#0;.x\"><![CDATA[/proc/version]]></File>\n"
                   "</CreateOrvanPack>\n"
                   "<CreateOrvanPack ArchivePath=\"nul.pak&#0;.x\"/></ScriptFile>\n");
    run = Run({"own.xml"});
    EXPECT_EQ(run.err, "Cannot compress own.pak!\nCannot compress ./own-link!\nCannot compress own.pak.zlk!\n"
                       "Cannot compress src\\0.x!\n"
                       "Cannot store /proc/version!\nCannot create nul.pak\\0.x!\n");
    EXPECT_EQ(run.status, 3);
    const auto own = ReadArchive(dir_ / "own.pak", dir_ / "own.pak.zlk");
    EXPECT_EQ(ArchivedNames(own), (Names{"p"}));
    EXPECT_EQ(own.front().content.rfind("Linux version", 0), 0u);
    EXPECT_FALSE(fs::exists(dir_ / "nul.pak"));
}

// --- Interruptions --------------------------------------------------------------------

// The names in `dir` that a writer's temporary files and locks have.
Names Leftovers(const fs::path& dir)
{
    Names names;
    for (const auto& entry : fs::directory_iterator(dir)) {
        const std::string name = entry.path().filename().string();
        if (name.find(".zelkor-") != std::string::npos)
            names.push_back(name);
    }
    return names;
}

// Waits (up to a minute) until a temporary file of `name` in `dir` holds more
// than `bytes` bytes: the archive's writer is well under way.
bool WaitForTemporary(const fs::path& dir, const std::string& name, std::uintmax_t bytes)
{
    for (int i = 0; i < 60000; ++i) {
        for (const auto& entry : fs::directory_iterator(dir)) {
            const std::string file = entry.path().filename().string();
            std::error_code ignored;
            if (file.rfind("." + name + ".zelkor-", 0) == 0 && file.find("lock") == std::string::npos &&
                fs::file_size(entry.path(), ignored) > bytes)
                return true;
        }
        ::usleep(1000);
    }
    return false;
}

TEST_F(FaultInjectionTest, InterruptedRebuildsKeepTheLastGoodArchive)
{
    dir_.Write("old", "the last good build");
    dir_.Write("old.xml", PackScript("a.pak", FileElement("old", "old"), true));
    ASSERT_EQ(Run({"old.xml"}).status, 0);
    std::string files;
    for (int i = 0; i < 24; ++i) {
        dir_.Write(Numbered("src/", i), testing::CompressibleText(1 << 20, static_cast<unsigned>(i)));
        files += FileElement(Numbered("f", i), Numbered("src/", i));
    }
    dir_.Write("new.xml", PackScript("a.pak", files, true));
    const auto expectLastGoodBuild = [&] {
        EXPECT_EQ(ArchivedContents(ReadArchive(dir_ / "a.pak", dir_ / "a.pak.zlk")), Names{"the last good build"});
    };

    for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGKILL}) {
        SCOPED_TRACE(signal);
        testing::StartedProgram rebuild(ZELKOR_BINARY, {"new.xml"}, dir_.path());
        ASSERT_TRUE(WaitForTemporary(dir_.path(), "a.pak", 64 * 1024));
        expectLastGoodBuild();  // what a reader sees meanwhile
        rebuild.Signal(signal);
        EXPECT_EQ(rebuild.Wait().status, 128 + signal);
        expectLastGoodBuild();
        const Names leftovers = Leftovers(dir_.path());
        if (signal != SIGKILL) {
            EXPECT_TRUE(leftovers.empty()) << leftovers.front();
            continue;
        }
        // Killed outright, the writer leaves only names that say what they are.
        EXPECT_FALSE(leftovers.empty());
        for (const std::string& name : leftovers) {
            EXPECT_TRUE(name.rfind(".a.pak.zelkor-", 0) == 0 || name.rfind(".a.pak.zlk.zelkor-", 0) == 0) << name;
            fs::remove(dir_ / name);
        }
    }
    // Uninterrupted, the rebuild replaces both files.
    ASSERT_EQ(Run({"new.xml"}).status, 0);
    EXPECT_EQ(ReadArchive(dir_ / "a.pak", dir_ / "a.pak.zlk").size(), 24u);
    EXPECT_TRUE(Leftovers(dir_.path()).empty());
}

// Builds a.pak and its key file a.pak.zlk in `dir`, holding `content` as "f",
// in a child process killed outright between the key file's rename and the
// archive's, as a crash at that moment would end it.
void KillBetweenTheRenames(const fs::path& dir, const std::string& content)
{
    const pid_t child = ::fork();
    if (child == 0) {
        JointCommit::SetHookBetweenRenames([] { ::raise(SIGKILL); });
        std::vector<std::uint8_t> bytes(content.begin(), content.end());
        LoadedFile file{bytes, bytes.size(), XXH32(bytes.data(), bytes.size(), ContentHashSeed)};
        const std::string keyPath = (dir / "a.pak.zlk").string();
        ArchiveWriter writer;
        if (writer.Create((dir / "a.pak").string(), &keyPath) && writer.AddFile("f", file))
            writer.Close();
        ::_exit(1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
}

TEST_F(FaultInjectionTest, AKillBetweenTheRenamesIsCompletedByWhoeverComesNext)
{
    dir_.Write("old", "the last good build");
    dir_.Write("old.xml", PackScript("a.pak", FileElement("old", "old"), true));
    // A pack command on the same paths that fails before its own commit (a File
    // without ArchivedPath) still finishes the commit it finds.
    dir_.Write("failing.xml", PackScript("a.pak", "<File><![CDATA[old]]></File>\n", true));
    for (const bool inspect : {true, false}) {
        SCOPED_TRACE(inspect ? "zelkor-inspect verify" : "the next pack command");
        ASSERT_EQ(Run({"old.xml"}).status, 0);
        KillBetweenTheRenames(dir_.path(), "the killed build");
        // The new key file beside the old archive: neither build decodes.
        EXPECT_ANY_THROW(ReadArchive(dir_ / "a.pak", dir_ / "a.pak.zlk"));
        EXPECT_TRUE(fs::exists(dir_ / ".a.pak.zelkor-commit"));

        const ToolRun next = inspect ? testing::RunInspect({"verify", "a.pak"}, dir_.path())
                                     : Run({"failing.xml"});
        EXPECT_EQ(next.status, inspect ? 0 : 2) << next.err;
        EXPECT_EQ(ArchivedContents(ReadArchive(dir_ / "a.pak", dir_ / "a.pak.zlk")), Names{"the killed build"});
        const Names leftovers = Leftovers(dir_.path());
        EXPECT_TRUE(leftovers.empty()) << leftovers.front();
    }
}

TEST_F(FaultInjectionTest, LinksInSharedDirectoriesAreFollowedOnlyWhenTheSystemWouldFollowThem)
{
    // Giving a link another owner takes root; CI runs the tests as root.
    if (::geteuid() != 0)
        FAIL() << "this test changes the owner of a link (lchown) and must run as root";
    constexpr uid_t Other = 65534;  // nobody
    dir_.Write("src", "content");
    dir_.Write("tree/t", "t");
    const struct {
        const char* why;
        mode_t mode;        // of the directory that holds the links
        uid_t directoryOwner;
        uid_t linkOwner;
        bool followed;
    } rows[] = {
        {"another user's link in /tmp's mode", 01777, 0, Other, false},
        {"the caller's own link", 01777, 0, 0, true},
        {"a link of the directory's owner", 01777, Other, Other, true},
        {"a directory that is not sticky", 0777, 0, Other, true},
        {"a sticky directory that not everybody may write", 01775, 0, Other, true},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.why);
        fs::remove_all(dir_ / "shared");
        fs::remove_all(dir_ / "real");
        fs::create_directories(dir_ / "shared");
        fs::create_directories(dir_ / "real");
        for (const char* name : {"a.pak", "k.zlk", "s.xml"}) {
            const fs::path link = dir_ / "shared" / name;
            fs::create_symlink(dir_ / "real" / name, link);
            ASSERT_EQ(::lchown(link.c_str(), row.linkOwner, row.linkOwner), 0);
        }
        ASSERT_EQ(::chown((dir_ / "shared").c_str(), row.directoryOwner, row.directoryOwner), 0);
        ASSERT_EQ(::chmod((dir_ / "shared").c_str(), row.mode), 0);
        dir_.Write("links.xml",
                   "<ScriptFile>\n"
                   "<CreateOrvanPack ArchivePath=\"shared/a.pak\">" + FileElement("f", "src") + "</CreateOrvanPack>\n"
                   "<CreateOrvanPack ArchivePath=\"b.pak\" BuildKeyfile=\"true\" KeyPath=\"shared/k.zlk\">" +
                       FileElement("f", "src") + "</CreateOrvanPack>\n"
                   "<CreateOrvanPackXml Input=\"tree\" XmlPath=\"shared/s.xml\" ArchivePath=\"t.pak\"/>\n"
                   "</ScriptFile>\n");
        const ToolRun run = Run({"links.xml"});
        if (row.followed) {
            EXPECT_EQ(run.err, "");
            EXPECT_EQ(ArchivedContents(ReadArchive(dir_ / "real/a.pak")), Names{"content"});
            EXPECT_EQ(ArchivedNames(ReadArchive(dir_ / "b.pak", dir_ / "real/k.zlk")), Names{"f"});
            EXPECT_TRUE(fs::exists(dir_ / "real/s.xml"));
        } else {
            EXPECT_EQ(run.err, "Cannot create shared/a.pak!\nCannot create shared/k.zlk!\nCannot write shared/s.xml!\n");
            EXPECT_EQ(run.status, 3);
            EXPECT_TRUE(fs::is_empty(dir_ / "real"));
            EXPECT_FALSE(fs::exists(dir_ / "b.pak"));
        }
        // Nothing beside the links either: no temporary file, no lock.
        EXPECT_EQ(std::distance(fs::directory_iterator(dir_ / "shared"), {}), 3);
    }
}

TEST_F(FaultInjectionTest, AFullFileSystemKeepsTheLastGoodArchive)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "mounting a small file system needs root";
    const fs::path disk = dir_ / "disk";
    fs::create_directory(disk);
    if (::mount("tmpfs", disk.c_str(), "tmpfs", 0, "size=256k") != 0)
        GTEST_SKIP() << "cannot mount a tmpfs here";
    struct Unmount {
        fs::path path;
        ~Unmount() { ::umount2(path.c_str(), MNT_DETACH); }
    } unmount{disk};

    dir_.Write("old", "the last good build");
    dir_.Write("old.xml", PackScript("disk/a.pak", FileElement("old", "old"), true));
    ASSERT_EQ(Run({"old.xml"}).status, 0);
    dir_.Write("big", RandomBytes(400 * 1024, 5));
    dir_.Write("big.xml", PackScript("disk/a.pak", FileElement("big", "big"), true));
    ToolRun run = Run({"big.xml"});
    EXPECT_EQ(run.err, "Cannot write disk/a.pak!\n");
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(ArchivedContents(ReadArchive(disk / "a.pak", disk / "a.pak.zlk")), Names{"the last good build"});
    EXPECT_TRUE(Leftovers(disk).empty());
}

TEST_F(FaultInjectionTest, OutputsHeldOrImpossible)
{
    dir_.Write("src", "content");
    dir_.Write("held.pak", "another build's archive");
    dir_.Write("plain-file", "x");
    // Another process holds the archive's lock, as a running build does.
    File holder = File::Open((dir_ / ".held.pak.zelkor-lock").string(), OpenFlags::ReadWrite | OpenFlags::Create);
    ASSERT_TRUE(holder.IsOpen());
    ASSERT_TRUE(holder.Lock(true));

    const std::string longName(300, 'n');
    dir_.Write("s.xml",
               "<ScriptFile>\n"
               "<CreateOrvanPack ArchivePath=\"held.pak\">" + FileElement("s", "src") + "</CreateOrvanPack>\n"
               "<CreateOrvanPack ArchivePath=\"plain-file/a.pak\"/>\n"
               "<CreateOrvanPack ArchivePath=\"" + longName + "\"/>\n"
               "<CreateOrvanPackXml Input=\".\" XmlPath=\"plain-file/gen.xml\" ArchivePath=\"a\"/>\n"
               "<CreateOrvanPack ArchivePath=\"ok.pak\">" + FileElement("s", "src") +
               FileElement("l", std::string(5000, 'x')) + "</CreateOrvanPack>\n"
               "</ScriptFile>");
    ToolRun run = Run({"s.xml"});
    EXPECT_EQ(run.err, "Cannot create held.pak!\nCannot create plain-file/a.pak!\nCannot create " +
                           longName + "!\nCannot write plain-file/gen.xml!\nCannot compress " +
                           std::string(5000, 'x') + "!\n");
    EXPECT_EQ(run.status, 3);
    EXPECT_EQ(dir_.Read("held.pak"), "another build's archive");
    EXPECT_EQ(ArchivedContents(ReadArchive(dir_ / "ok.pak")), Names{"content"});
}

TEST_F(FaultInjectionTest, SourceLargerThanTheLoadBuffersIsStoredWhole)
{
    // 70 MiB, compressible in parts so that both forms of the buffers are used.
    std::string content = RandomBytes(70 << 20, 3);
    std::fill(content.begin(), content.begin() + (20 << 20), 'z');
    dir_.Write("large", content);
    dir_.Write("small", "after the large one");
    dir_.Write("s.xml", PackScript("a.pak", FileElement("large", "large") + FileElement("small", "small"), true));
    ToolRun run = Run({"s.xml"});
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.status, 0);
    auto files = ReadArchive(dir_ / "a.pak", dir_ / "a.pak.zlk");
    ASSERT_EQ(files.size(), 2u);
    EXPECT_TRUE(files[0].content == content);
    EXPECT_TRUE(files[0].compressed);
    EXPECT_EQ(files[1].content, "after the large one");
}

TEST_F(FaultInjectionTest, MemoryFollowsTheFiles)
{
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "sanitizers reserve more address space than the limit allows";
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
    GTEST_SKIP() << "sanitizers reserve more address space than the limit allows";
#endif
#endif
    // Two scripts of small files under a tight limit on address space; a source
    // too large to hold under it is left out with a warning, and the run goes on.
    for (int f = 0; f < 20; ++f)
        dir_.Write(Numbered("src/", f), testing::CompressibleText(1000 + 100 * f, static_cast<unsigned>(f)));
    fs::resize_file(dir_.Write("huge", ""), std::uintmax_t{2} << 30);  // sparse
    for (const char* name : {"a", "b"}) {
        std::string files;
        for (int f = 0; f < 20; ++f) {
            files += FileElement(Numbered("f", f), Numbered("src/", f));
            if (f == 10 && name[0] == 'a')
                files += FileElement("huge", "huge");
        }
        dir_.Write(std::string(name) + ".xml", PackScript(std::string(name) + ".pak", files));
    }
    ToolRun run = RunLimited("ulimit -v 700000", {"a.xml", "b.xml"});
    EXPECT_EQ(run.err, "Cannot compress huge!\n");
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(ReadArchive(dir_ / "a.pak").size(), 20u);
    EXPECT_EQ(ReadArchive(dir_ / "b.pak").size(), 20u);
}

TEST_F(FaultInjectionTest, ManyScriptsSomeSharingOutputs)
{
    // 64 scripts of 50 files each; scripts 2k and 2k + 1 write the same archive.
    for (int f = 0; f < 50; ++f)
        dir_.Write(Numbered("src/", f), std::string(100 + 37 * f, static_cast<char>('a' + f % 26)));
    std::vector<std::string> scripts;
    for (int s = 0; s < 64; ++s) {
        std::string files;
        for (int f = 0; f < 50; ++f)
            files += FileElement(std::to_string(s) + Numbered("/", f), Numbered("src/", f));
        const std::string script = Numbered("s", s) + ".xml";
        dir_.Write(script, PackScript(Numbered("out", s / 2) + ".pak", files, true));
        scripts.push_back(script);
    }
    ToolRun run = Run(scripts);
    // A script whose archive is held by its twin is skipped with a warning.
    std::istringstream lines(run.err);
    for (std::string line; std::getline(lines, line);)
        EXPECT_EQ(line.rfind("Cannot create out", 0), 0u) << line;
    EXPECT_EQ(run.status, run.err.empty() ? 0 : 3);  // an archive held by its pair is not written
    for (int a = 0; a < 32; ++a) {
        const std::string archive = Numbered("out", a) + ".pak";
        auto files = ReadArchive(dir_ / archive, dir_ / (archive + ".zlk"));
        ASSERT_EQ(files.size(), 50u) << archive;
        const std::string prefix = files[0].name.substr(0, files[0].name.find('/'));
        EXPECT_TRUE(prefix == std::to_string(2 * a) || prefix == std::to_string(2 * a + 1)) << prefix;
        for (int f = 0; f < 50; ++f)
            EXPECT_EQ(files[f].name, prefix + Numbered("/", f));
    }
}

}  // namespace
}  // namespace zelkor
