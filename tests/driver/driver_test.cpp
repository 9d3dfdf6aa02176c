// End-to-end runs of the built archiver: banner, stages, failure reporting and
// exit statuses.
#include <gtest/gtest.h>

#include "support/golden_file.h"
#include "support/run_tool.h"
#include "support/system_tests.h"
#include "support/temp_dir.h"

namespace zelkor {
namespace {

using testing::Banner;
using testing::RunZelkor;
using testing::TempDir;
using testing::ToolRun;

class DriverTest : public ::testing::Test {
protected:
    ToolRun Run(const std::vector<std::string>& args) { return RunZelkor(args, dir_.path()); }

    void WriteEmptyScript(const std::string& name) { dir_.Write(name, "<ScriptFile/>"); }

    TempDir dir_;
};

TEST_F(DriverTest, NoArgumentsPrintsTheBannerOnly)
{
    ToolRun run = Run({});
    EXPECT_EQ(run.out, "--- Zelkor Archiver v2.5 ---\n\"Sheeeeesh!\" - Tamblor 2014\n\n");
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.status, 0);
}

TEST_F(DriverTest, SecondBannerLineDependsOnTheNumberOfScripts)
{
    WriteEmptyScript("s.xml");
    ToolRun four = Run({"s.xml", "s.xml", "s.xml", "s.xml"});
    EXPECT_EQ(four.out, Banner(4));
    EXPECT_EQ(four.out, Banner(0));
    EXPECT_EQ(four.status, 0);

    ToolRun five = Run({"s.xml", "s.xml", "s.xml", "s.xml", "s.xml"});
    EXPECT_EQ(five.out,
              "--- Zelkor Archiver v2.5 ---\nTake a cup of coffee, this could take a while\n\n");
    EXPECT_EQ(five.err, "");
    EXPECT_EQ(five.status, 0);
}

TEST_F(DriverTest, ScriptWithCommentsAndUnknownChildrenRunsNamingOnlyTheChildren)
{
    // The declaration, the element outside ScriptFile, the comment and the text
    // pass quietly; the child that is not a command is named.
    dir_.Write("s.xml", "<?xml version=\"1.0\"?>\n<Other/>\n<ScriptFile>\n  <!-- nothing -->\n"
                        "  <createorvanpack/>\n  text\n</ScriptFile>\n");
    ToolRun run = Run({"s.xml"});
    EXPECT_EQ(run.out, Banner(1));
    EXPECT_EQ(run.err, "s.xml(5): unknown element <createorvanpack> ignored!\n");
    EXPECT_EQ(run.status, 1);
}

TEST_F(DriverTest, HelpAndVersionOnlyAsTheOnlyArgument)
{
    ToolRun help = Run({"--help"});
    EXPECT_EQ(help.err, "");
    EXPECT_EQ(help.status, 0);
    testing::ExpectMatchesGolden("driver/help.txt", help.out);
    EXPECT_EQ(Run({"-h"}).out, help.out);

    ToolRun version = Run({"--version"});
    EXPECT_EQ(version.out, "zelkor " ZELKOR_VERSION "\n");
    EXPECT_EQ(version.err, "");
    EXPECT_EQ(version.status, 0);

    // Anything else is a script path, as before.
    WriteEmptyScript("s.xml");
    struct Case {
        std::vector<std::string> args;
        std::string err;
    };
    const std::vector<Case> cases = {
        {{"--help", "s.xml"}, "--help: cannot open file\n"},
        {{"s.xml", "--version"}, "--version: cannot open file\n"},
        {{"--Help"}, "--Help: cannot open file\n"},
        {{"-v"}, "-v: cannot open file\n"},
        {{"--version="}, "--version=: cannot open file\n"},
    };
    for (const Case& c : cases) {
        ToolRun run = Run(c.args);
        EXPECT_EQ(run.out, Banner(c.args.size())) << c.args[0];
        EXPECT_EQ(run.err, c.err) << c.args[0];
        EXPECT_EQ(run.status, 2) << c.args[0];
    }
    // A script named --help is run through a path.
    dir_.Write("--help", "<ScriptFile><Other/></ScriptFile>");
    ToolRun script = Run({"./--help"});
    EXPECT_EQ(script.out, Banner(1));
    EXPECT_EQ(script.err, "./--help(1): unknown element <Other> ignored!\n");
}

// --- Failures -----------------------------------------------------------------

TEST_F(DriverTest, AStandardOutputThatCannotBeWrittenFailsTheRun)
{
    ZELKOR_POSIX_ONLY("/dev/full");
    WriteEmptyScript("s.xml");
    dir_.Write("g.xml", "<ScriptFile><CreateOrvanPackXml Input=\".\" XmlPath=\"out.xml\" ArchivePath=\"a\"/>"
                        "</ScriptFile>");
    for (const std::string args : {"--help", "--version", "s.xml", "g.xml", ""}) {
        ToolRun run = testing::RunProgram(
            "/bin/sh", {"-c", "exec \"$0\" " + args + " > /dev/full", ZELKOR_BINARY}, dir_.path());
        EXPECT_EQ(run.err, "Cannot write standard output!\n") << args;
        EXPECT_EQ(run.status, 2) << args;
    }
    // The banner could not be written, so nothing was run.
    EXPECT_FALSE(std::filesystem::exists(dir_ / "out.xml"));
}

TEST_F(DriverTest, MissingScriptEndsTheRunBeforeAnythingExecutes)
{
    // The second script would fail when executed; the load failure comes first, so
    // nothing is executed and only one message appears.
    dir_.Write("noroot.xml", "<scriptfile/>");
    ToolRun run = Run({"noroot.xml", "missing.xml"});
    EXPECT_EQ(run.out, Banner(2));
    EXPECT_EQ(run.err, "missing.xml: cannot open file\n");
    EXPECT_EQ(run.status, 2);
}

TEST_F(DriverTest, ParseFailureShowsPathAndLine)
{
    dir_.Write("broken.xml", "<ScriptFile>\n<CreateOrvanPack/>\n");
    ToolRun run = Run({"broken.xml"});
    EXPECT_EQ(run.err, "broken.xml(3): unexpected end of data\n");
    EXPECT_EQ(run.status, 2);

    dir_.Write("text.xml", "hello <ScriptFile/>");
    run = Run({"text.xml"});
    EXPECT_EQ(run.err, "text.xml(1): expected <\n");
}

TEST_F(DriverTest, TwoFailingScriptsGiveExactlyOneMessage)
{
    WriteEmptyScript("good.xml");
    ToolRun run = Run({"good.xml", "a-missing.xml", "good.xml", "b-missing.xml"});
    EXPECT_TRUE(run.err == "a-missing.xml: cannot open file\n" ||
                run.err == "b-missing.xml: cannot open file\n")
        << run.err;
    EXPECT_EQ(run.status, 2);
}

TEST_F(DriverTest, DirectoryAsScriptCannotBeOpened)
{
    std::filesystem::create_directory(dir_ / "folder");
    ToolRun run = Run({"folder"});
    EXPECT_EQ(run.err, "folder: cannot open file\n");
    EXPECT_EQ(run.status, 2);
}

TEST_F(DriverTest, ScriptWithoutScriptFileFailsWhenExecuted)
{
    dir_.Write("empty.xml", "");
    dir_.Write("other.xml", "<ScriptFileX/>");
    for (const char* script : {"empty.xml", "other.xml"}) {
        ToolRun run = Run({script});
        EXPECT_EQ(run.out, Banner(1));
        EXPECT_EQ(run.err, "No such node (ScriptFile)\n") << script;
        EXPECT_EQ(run.status, 2) << script;
    }
}

TEST_F(DriverTest, AStatusLineOnATerminalOnly)
{
    std::string files;
    for (int i = 0; i < 5; ++i) {
        dir_.Write("src/" + std::to_string(i), std::string(1000 * (i + 1), 'x'));
        files += "<File ArchivedPath=\"" + std::to_string(i) + "\"><![CDATA[src/" + std::to_string(i) + "]]></File>";
    }
    files += "<File ArchivedPath=\"m\"><![CDATA[missing]]></File>";
    dir_.Write("s.xml", "<ScriptFile><CreateOrvanPack ArchivePath=\"a.pak\">" + files + "</CreateOrvanPack></ScriptFile>");

    // The line is drawn, the warning appears above it on a line of its own, the
    // last drawing counts every file, and the line is cleared at the end.
    // (The tests start no console on Windows, which has no pseudo-terminal.)
    if (!testing::OnWindows) {
        const std::string terminal = testing::RunOnTerminal(ZELKOR_BINARY, {"s.xml"}, dir_.path());
        EXPECT_NE(terminal.find("of 6 files"), std::string::npos) << terminal;
        EXPECT_NE(terminal.find("\r\033[KCannot compress missing!\r\n"), std::string::npos) << terminal;
        const std::size_t last = terminal.rfind("\r\033[K");
        EXPECT_EQ(terminal.substr(last), "\r\033[K");
        EXPECT_EQ(terminal.substr(terminal.rfind("\r\033[K", last - 1), 21), "\r\033[K6 of 6 files, 0.0");
    }

    // Elsewhere, standard error is only the warning.
    EXPECT_EQ(Run({"s.xml"}).err, "Cannot compress missing!\n");
}

}  // namespace
}  // namespace zelkor
