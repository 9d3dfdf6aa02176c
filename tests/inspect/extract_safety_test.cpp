// Extraction never writes outside its directory, never over a file unless
// forced, and keeps the earlier of two entries with the same name unless forced.
#include <poll.h>
#include <signal.h>
#include <sys/inotify.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include <gtest/gtest.h>

#include "inspect_fixture.h"

namespace zelkor {
namespace {

namespace fs = std::filesystem;
using testing::Count;
using testing::ToolRun;
using Files = std::map<std::string, std::string>;

class ExtractSafetyTest : public testing::InspectTest {};

TEST_F(ExtractSafetyTest, UnsafeNamesAreRefusedAndNothingLandsOutside)
{
    Craft("a.pak",
          {{"../escape.txt", "1"},
           {"/tmp/absolute.txt", "2"},
           {"C:\\drive.txt", "3"},
           {"sub\\..\\..\\..\\back.txt", "4"},
           {"dir/", "5"},
           {"", "6"},
           {"good/./file.txt", "7"},
           {"also//good.txt", "8"}},
          true);
    // Deep enough that each ".." would still land inside the test's directory.
    const ToolRun run = Inspect({"extract", "a.pak", "-o", "x/y/z/out"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(Count(run.err, ": not written: "), 6u) << run.err;
    EXPECT_NE(run.err.find("entry 0 (../escape.txt): not written: the name holds a \"..\" component\n"),
              std::string::npos)
        << run.err;
    EXPECT_NE(run.err.find("entry 1 (/tmp/absolute.txt): not written: the name is absolute\n"),
              std::string::npos);
    EXPECT_NE(run.err.find("entry 2 (C:\\drive.txt): not written: the name has a drive prefix\n"),
              std::string::npos);
    EXPECT_NE(run.out.find("extracted 2 of 8 entries"), std::string::npos) << run.out;
    EXPECT_EQ(Tree("x/y/z/out"), (Files{{"good/file.txt", "7"}, {"also/good.txt", "8"}}));
    // Nothing else anywhere below the test's directory but the archive.
    EXPECT_EQ(Tree("").size(), 4u);
    EXPECT_FALSE(fs::exists("/tmp/absolute.txt") && testing::ReadFile("/tmp/absolute.txt") == "2");
}

TEST_F(ExtractSafetyTest, LinksInTheDirectoryAreNeverFollowed)
{
    Craft("a.pak", {{"inside/payload.txt", "evil"}, {"victim.txt", "evil"}, {"plain.txt", "fine"}}, true);
    fs::create_directories(dir_ / "outside");
    dir_.Write("outside/victim.txt", "precious");
    fs::create_directories(dir_ / "out");
    fs::create_directory_symlink(dir_ / "outside", dir_ / "out/inside");
    fs::create_symlink(dir_ / "outside/victim.txt", dir_ / "out/victim.txt");

    ToolRun run = Inspect({"extract", "a.pak", "-o", "out"});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("entry 0 (inside/payload.txt): not written: out/inside is a link, which is never"
                           " followed\n"),
              std::string::npos)
        << run.err;
    EXPECT_NE(run.err.find("entry 1 (victim.txt): not written: out/victim.txt exists (use --force to"
                           " overwrite it)\n"),
              std::string::npos)
        << run.err;

    // Forced, the link to a file is replaced by the file; the link to a
    // directory still stops the write.
    run = Inspect({"extract", "a.pak", "-o", "out", "--force"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(Count(run.err, "not written"), 1u) << run.err;
    EXPECT_EQ(Tree("outside"), (Files{{"victim.txt", "precious"}}));
    EXPECT_FALSE(fs::is_symlink(dir_ / "out/victim.txt"));
    EXPECT_EQ(dir_.Read("out/victim.txt"), "evil");
    EXPECT_EQ(dir_.Read("out/plain.txt"), "fine");
}

TEST_F(ExtractSafetyTest, ExistingFilesAndDuplicateNamesNeedForce)
{
    Craft("a.pak",
          {{"same.txt", "first"}, {"twice.txt", "equal"}, {"same.txt", "second"}, {"twice.txt", "equal"}},
          true);
    const std::string conflicts =
        "entry 2 (same.txt): not written: entry 0 is at out/same.txt (use --force to let the later entry"
        " win)\n"
        "entry 3 (twice.txt): skipped: the same name and content as entry 1\n";
    ToolRun run = Inspect({"extract", "a.pak", "-o", "out"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, conflicts);
    EXPECT_EQ(run.out, "extracted 2 of 4 entries from a.pak with key file a.pak.zlk to out; 1 skipped as a"
                       " duplicate; 1 not written\n");
    EXPECT_EQ(Tree("out"), (Files{{"same.txt", "first"}, {"twice.txt", "equal"}}));

    // A second run finds the same content in place and says nothing about it.
    run = Inspect({"extract", "a.pak", "-o", "out"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, conflicts);
    EXPECT_EQ(run.out, "extracted 0 of 4 entries from a.pak with key file a.pak.zlk to out; 2 already there"
                       " with the same content; 1 skipped as a duplicate; 1 not written\n");

    // Only a file that differs needs --force.
    dir_.Write("out/twice.txt", "edited");
    run = Inspect({"extract", "a.pak", "-o", "out"});
    EXPECT_EQ(Count(run.err, "entry 1 (twice.txt): not written: out/twice.txt exists with other content (use"
                             " --force to overwrite it)\n"),
              1u)
        << run.err;
    EXPECT_EQ(Tree("out"), (Files{{"same.txt", "first"}, {"twice.txt", "edited"}}));

    run = Inspect({"extract", "a.pak", "-o", "out", "--force"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(Tree("out"), (Files{{"same.txt", "second"}, {"twice.txt", "equal"}}));
    EXPECT_EQ(Inspect({"extract", "a.pak", "-o", "out", "--force"}).err, "");
}

TEST_F(ExtractSafetyTest, ADirectoryWhereAFileGoesIsNamedWithTheEntryThatMadeIt)
{
    Craft("a.pak", {{"d/x", "x"}, {"d", "file"}, {"old", "file"}}, true);
    std::filesystem::create_directories(dir_ / "out/old/sub");
    for (const bool force : {false, true}) {
        std::vector<std::string> args{"extract", "a.pak", "-o", "out"};
        if (force)
            args.push_back("--force");
        const ToolRun run = Inspect(args);
        EXPECT_EQ(run.status, 1);
        // The first run made d; the second finds it made before it started.
        EXPECT_EQ(run.err, std::string("entry 1 (d): not written: out/d is a directory") +
                               (force ? "" : " made for entry 0") +
                               "\n"
                               "entry 2 (old): not written: out/old is a directory\n");
        EXPECT_EQ(Tree("out"), (Files{{"d/x", "x"}}));
    }
}

struct Descriptor {
    int fd;
    ~Descriptor()
    {
        if (fd >= 0)
            ::close(fd);
    }
};

// Names in `directory` that start with `prefix`.
std::vector<std::string> NamesStartingWith(const fs::path& directory, const std::string& prefix)
{
    std::vector<std::string> names;
    for (const auto& item : fs::directory_iterator(directory)) {
        const std::string name = item.path().filename().string();
        if (name.rfind(prefix, 0) == 0)
            names.push_back(name);
    }
    return names;
}

TEST_F(ExtractSafetyTest, AWriteThatFailsLeavesNoPartOfTheFile)
{
    Craft("a.pak", {{"big.bin", std::string(300 * 1024, 'b')}, {"small.txt", "small"}}, true);
    // Files limited to 100 KiB, as on a full disk (the signal that the limit
    // would send is ignored by the tool).
    const ToolRun run = testing::RunProgram(
        "/bin/bash",
        {"-c", "ulimit -f 100; exec \"$0\" \"$@\"", ZELKOR_INSPECT_BINARY, "extract", "a.pak", "-o", "out"},
        dir_.path());
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "entry 0 (big.bin): not written: cannot write out/big.bin: File too large\n");
    EXPECT_EQ(Tree("out"), (Files{{"small.txt", "small"}}));
    EXPECT_TRUE(NamesStartingWith(dir_ / "out", ".big.bin").empty());
}

TEST_F(ExtractSafetyTest, AnInterruptedExtractionLeavesNoPartOfTheFile)
{
    const std::string content(64 << 20, 'z');  // stored raw: writing it takes a while
    Craft("big.pak", {{"big.bin", content}}, true);
    dir_.Write("old/big.bin", "the version before");
    fs::create_directories(dir_ / "new");
    const struct {
        int signal;
        std::string directory;
        bool force;
        std::string left;  // what is at the file's name afterwards, if anything
    } cases[] = {
        {SIGINT, "new", false, ""},
        {SIGTERM, "old", true, "the version before"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.directory);
        // The temporary file's creation is seen the moment it happens; the
        // extraction is then stopped, so that it is certainly caught writing.
        const Descriptor watch{::inotify_init1(IN_CLOEXEC)};
        ASSERT_GE(watch.fd, 0);
        ASSERT_GE(::inotify_add_watch(watch.fd, (dir_ / c.directory).c_str(), IN_CREATE), 0);
        std::vector<std::string> args{"extract", "big.pak", "-o", c.directory};
        if (c.force)
            args.push_back("--force");
        testing::StartedProgram tool(ZELKOR_INSPECT_BINARY, args, dir_.path());
        alignas(inotify_event) char buffer[4096];
        bool created = false;
        while (!created) {
            pollfd ready{watch.fd, POLLIN, 0};
            ASSERT_EQ(::poll(&ready, 1, 60 * 1000), 1) << "no temporary file was created";
            const ssize_t got = ::read(watch.fd, buffer, sizeof buffer);
            ASSERT_GT(got, 0);
            for (ssize_t at = 0; at < got;) {
                const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
                created = created || std::string(event->name).rfind(".big.bin.zelkor-", 0) == 0;
                at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
            }
        }
        ASSERT_EQ(::kill(tool.Pid(), SIGSTOP), 0);
        int stopped = 0;
        ASSERT_EQ(::waitpid(tool.Pid(), &stopped, WUNTRACED), tool.Pid());
        ASSERT_TRUE(WIFSTOPPED(stopped));
        ASSERT_EQ(NamesStartingWith(dir_ / c.directory, ".big.bin.zelkor-").size(), 1u);

        ::kill(tool.Pid(), c.signal);
        ::kill(tool.Pid(), SIGCONT);
        const ToolRun run = tool.Wait();
        EXPECT_EQ(run.status, 128 + c.signal);
        EXPECT_TRUE(NamesStartingWith(dir_ / c.directory, ".big.bin.zelkor-").empty());
        if (c.left.empty())
            EXPECT_FALSE(fs::exists(dir_ / c.directory / "big.bin"));
        else
            EXPECT_EQ(dir_.Read(c.directory + "/big.bin"), c.left);

        // The next run finds nothing in its way.
        const ToolRun again = Inspect(args);
        EXPECT_EQ(again.status, 0) << again.err;
        EXPECT_TRUE(dir_.Read(c.directory + "/big.bin") == content);
    }
}

}  // namespace
}  // namespace zelkor
