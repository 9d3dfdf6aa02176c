// The archiver under faults from outside: a full disk, sources that change or are
// not files, outputs held by another process or placed where no file can be,
// names at the format's limits, a source larger than the load buffers.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include <gtest/gtest.h>

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

    // Runs the archiver with files limited to `limit` bytes, as on a full disk:
    // a write past the limit fails (the signal that would end the process is
    // ignored, as a full disk sends none).
    ToolRun RunWithFileSizeLimit(std::size_t limit, const std::vector<std::string>& args)
    {
        std::vector<std::string> shell = {
            "-c", "trap '' XFSZ; ulimit -f " + std::to_string(limit / 1024) + "; exec \"$0\" \"$@\"",
            ZELKOR_BINARY};
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
    EXPECT_EQ(fs::file_size(dir_ / "big.pak"), 0u);
    EXPECT_EQ(fs::file_size(dir_ / "big.pak.zlk"), 0u);

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
    EXPECT_EQ(fs::file_size(dir_ / "out/big.pak"), 0u);

    // A generated script that does not fit leaves the old one untouched.
    std::string generate = "<ScriptFile><CreateOrvanPackXml Input=\"assets:";
    generate += std::string(4000, 'p');
    generate += "\" XmlPath=\"gen.xml\" ArchivePath=\"a.pak\"/></ScriptFile>";
    dir_.Write("generate.xml", generate);
    dir_.Write("gen.xml", "old script");
    run = RunWithFileSizeLimit(2048, {"generate.xml"});
    EXPECT_EQ(run.err, "Cannot write gen.xml!\n");
    EXPECT_EQ(run.status, 1);
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
    EXPECT_EQ(run.err, "Cannot compress fifo!\nCannot compress folder!\nCannot compress dangling!\n");
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(ReadArchive(dir_ / "odd.pak").empty());
}

TEST_F(FaultInjectionTest, OutputsHeldOrImpossible)
{
    dir_.Write("src", "content");
    dir_.Write("held.pak", "another build's archive");
    dir_.Write("plain-file", "x");
    // Another process holds the archive, as a running build does.
    File holder = File::Open((dir_ / "held.pak").string(), O_RDWR);
    ASSERT_TRUE(holder.IsOpen());
    ASSERT_EQ(::flock(holder.Descriptor(), LOCK_EX), 0);

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
    EXPECT_EQ(run.status, 1);
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
    EXPECT_EQ(run.status, run.err.empty() ? 0 : 1);
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
