// What a script holds that the language does not have is named, one warning each,
// in document order, as the processor reaches it; the run goes on as before.
#include <algorithm>
#include <filesystem>

#include <gtest/gtest.h>

#include "processor_fixture.h"

namespace zelkor {
namespace {

using testing::FileElement;
using testing::ToolRun;

// A script body (the commands inside ScriptFile, whose first line is line 2) and
// the standard error it gives.
struct Case {
    std::string commands;
    std::string err;
    int status = 1;
};

class ScriptWarningsTest : public testing::ProcessorTest {
protected:
    void SetUp() override { dir_.Write("src/c.txt", "see"); }

    // Every case is checked first: `zelkor-inspect check` must say exactly what
    // the run then says, and write nothing at all.
    void ExpectWarnings(const std::vector<Case>& cases)
    {
        for (const Case& c : cases) {
            SCOPED_TRACE(c.commands);
            WriteScript("script.xml", c.commands);
            const std::vector<std::string> before = Listing();
            ToolRun check = testing::RunInspect({"check", "script.xml"}, dir_.path());
            EXPECT_EQ(Listing(), before);
            ToolRun run = Run({"script.xml"});
            EXPECT_EQ(run.err, c.err);
            EXPECT_EQ(run.status, c.status);
            EXPECT_EQ(check.err, c.err);
            EXPECT_EQ(check.status, c.status);
        }
    }

    // Every path below the directory, with its size, sorted.
    std::vector<std::string> Listing() const
    {
        std::vector<std::string> paths;
        for (const auto& entry : std::filesystem::recursive_directory_iterator(dir_.path())) {
            paths.push_back(entry.path().string());
            if (entry.is_regular_file()) {
                paths.back() += ' ';
                paths.back() += std::to_string(entry.file_size());
            }
        }
        std::sort(paths.begin(), paths.end());
        return paths;
    }
};

TEST_F(ScriptWarningsTest, UnknownElements)
{
    ExpectWarnings({
        // A misspelt command: one line, nothing for what it holds, nothing built.
        {"<CreateOrvanPak ArchivePath=\"a.pak\">\n<Flie/><File ArchivedPath=\"c\">src/c.txt</File>\n"
         "</CreateOrvanPak>\n",
         "script.xml(2): unknown element <CreateOrvanPak> ignored!\n"},
        {"<CreateOrvanPack ArchivePath=\"a.pak\">\n<Flie ArchivedPath=\"c\">src/c.txt</Flie>\n</CreateOrvanPack>\n",
         "script.xml(3): unknown element <Flie> ignored!\n"},
        {"<CreateOrvanPack ArchivePath=\"a.pak\">\n<File ArchivedPath=\"c\"><Note/>src/c.txt</File>\n"
         "</CreateOrvanPack>\n",
         "script.xml(3): unknown element <Note> ignored!\n"},
        {"<CreateOrvanPackXml Input=\"src\" XmlPath=\"g.xml\" ArchivePath=\"g.pak\">\n"
         "<Ignroe Pattern=\"*\"/>\n<Add><X/>a</Add>\n</CreateOrvanPackXml>\n",
         "script.xml(3): unknown element <Ignroe> ignored!\nscript.xml(4): unknown element <X> ignored!\n"},
        // Patch may hold anything; comments and what lies outside ScriptFile are
        // not looked at.
        {"<CreateOrvanPackXml Input=\"src\" XmlPath=\"g.xml\" ArchivePath=\"g.pak\">\n"
         "<Patch From=\"1\"><Deep x=\"y\"/>text</Patch>\n<!-- <Ignroe/> -->\n</CreateOrvanPackXml>\n"
         "</ScriptFile>\n<Outside/>\n<ScriptFile>\n",
         "", 0},
    });
}

TEST_F(ScriptWarningsTest, UnknownAttributes)
{
    ExpectWarnings({
        // The typo that leaves the archive unprotected.
        {"<CreateOrvanPack ArchivePath=\"a.pak\" BuildKeyFile=\"true\"/>\n",
         "script.xml(2): unknown attribute BuildKeyFile of <CreateOrvanPack> ignored!\n"},
        {"<CreateOrvanPack ArchivePath=\"a.pak\"\n    Key=\"k\" KeyPath=\"a.key\" Seed=\"s\"/>\n",
         "script.xml(3): unknown attribute Key of <CreateOrvanPack> ignored!\n"
         "script.xml(3): unknown attribute Seed of <CreateOrvanPack> ignored!\n"},
        {"<CreateOrvanPackXml Input=\"src\" XmlPath=\"g.xml\" ArchivePath=\"g.pak\" KeySeedPath=\"s\" Xml=\"x\">\n"
         "<Ignore Pattern=\"*.txt\" Case=\"no\"/>\n<Add Path=\"x\">a</Add>\n</CreateOrvanPackXml>\n",
         "script.xml(2): unknown attribute Xml of <CreateOrvanPackXml> ignored!\n"
         "script.xml(3): unknown attribute Case of <Ignore> ignored!\n"
         "script.xml(4): unknown attribute Path of <Add> ignored!\n"},
        // A misspelt ArchivedPath is named before the failure it causes.
        {"<CreateOrvanPack ArchivePath=\"a.pak\">\n<File ArchivdPath=\"c\">src/c.txt</File>\n</CreateOrvanPack>\n",
         "script.xml(3): unknown attribute ArchivdPath of <File> ignored!\nNo such node (<xmlattr>.ArchivedPath)\n", 2},
    });
    dir_.Write("root.xml", "<ScriptFile Version=\"2\"/>");
    ToolRun run = Run({"root.xml"});
    EXPECT_EQ(run.err, "root.xml(1): unknown attribute Version of <ScriptFile> ignored!\n");
    EXPECT_EQ(run.status, 1);
}

TEST_F(ScriptWarningsTest, BuildKeyfileValuesThatAreNotBooleans)
{
    ExpectWarnings({
        {"<CreateOrvanPack ArchivePath=\"a.pak\" BuildKeyfile=\"True\"/>\n",
         "script.xml(2): BuildKeyfile=\"True\" is not true or false, taken as false!\n"},
        {"<CreateOrvanPack ArchivePath=\"a.pak\" BuildKeyfile=\"yes\"/>\n",
         "script.xml(2): BuildKeyfile=\"yes\" is not true or false, taken as false!\n"},
        {"<CreateOrvanPack ArchivePath=\"a.pak\" BuildKeyfile=\"\"/>\n",
         "script.xml(2): BuildKeyfile=\"\" is not true or false, taken as false!\n"},
        {"<CreateOrvanPackXml Input=\"src\" XmlPath=\"g.xml\" ArchivePath=\"g.pak\"\n BuildKeyfile=\"&quot;1&quot;\"/>\n",
         "script.xml(3): BuildKeyfile=\"\"1\"\" is not true or false, taken as false!\n"},
        {"<CreateOrvanPack ArchivePath=\"a.pak\" BuildKeyfile=\" 1 \"/>\n"
         "<CreateOrvanPack ArchivePath=\"b.pak\" BuildKeyfile=\"0\"/>\n"
         "<CreateOrvanPackXml Input=\"src\" XmlPath=\"g.xml\" ArchivePath=\"g.pak\" BuildKeyfile=\"false\"/>\n",
         "", 0},
    });
}

TEST_F(ScriptWarningsTest, LevelValuesThatAreNotLevels)
{
    const auto bad = [](const std::string& value) {
        return "script.xml(2): Level=\"" + value + "\" is not a level from 1 to 12, taken as 9!\n";
    };
    ExpectWarnings({
        {"<CreateOrvanPack ArchivePath=\"a.pak\" Level=\"0\"/>\n", bad("0")},
        {"<CreateOrvanPack ArchivePath=\"a.pak\" Level=\"13\"/>\n", bad("13")},
        {"<CreateOrvanPack ArchivePath=\"a.pak\" Level=\"012\"/>\n", bad("012")},
        {"<CreateOrvanPack ArchivePath=\"a.pak\" Level=\"-1\"/>\n", bad("-1")},
        {"<CreateOrvanPack ArchivePath=\"a.pak\" Level=\"high\"/>\n", bad("high")},
        {"<CreateOrvanPack ArchivePath=\"a.pak\" Level=\"\"/>\n", bad("")},
        {"<CreateOrvanPackXml Input=\"src\" XmlPath=\"g.xml\" ArchivePath=\"g.pak\" Level=\"9.5\"/>\n", bad("9.5")},
        {"<CreateOrvanPack ArchivePath=\"a.pak\" Level=\" 12 \"/>\n"
         "<CreateOrvanPack ArchivePath=\"b.pak\" Level=\"01\"/>\n"
         "<CreateOrvanPackXml Input=\"src\" XmlPath=\"g.xml\" ArchivePath=\"g.pak\" Level=\"1\"\n"
         " VolumeSize=\"2G\" PatchOf=\"base.pak\"/>\n",
         "", 0},
    });
    // A generate command carries its Level, PatchOf and VolumeSize into the
    // script it writes, in the order a pack command lists them.
    EXPECT_NE(dir_.Read("g.xml").find(" Level=\"1\" PatchOf=\"base.pak\" VolumeSize=\"2G\" >"), std::string::npos);
}

TEST_F(ScriptWarningsTest, RepeatedAttributes)
{
    // Lookups take the first; each later one is named at its own line.
    ExpectWarnings({
        {"<CreateOrvanPack ArchivePath=\"d1.pak\"\n ArchivePath=\"d2.pak\" ArchivePath=\"d3.pak\">\n"
         "<File ArchivedPath=\"a\" ArchivedPath=\"b\">src/c.txt</File>\n</CreateOrvanPack>\n",
         "script.xml(3): attribute ArchivePath repeated, the first one used!\n"
         "script.xml(3): attribute ArchivePath repeated, the first one used!\n"
         "script.xml(4): attribute ArchivedPath repeated, the first one used!\n"},
        {"<CreateOrvanPack ArchivePath=\"a.pak\" Typo=\"1\" Typo=\"2\"/>\n",
         "script.xml(2): unknown attribute Typo of <CreateOrvanPack> ignored!\n"
         "script.xml(2): attribute Typo repeated, the first one used!\n"},
    });
    EXPECT_TRUE(Exists("d1.pak"));
    EXPECT_FALSE(Exists("d2.pak"));
    ASSERT_EQ(Archive("d1.pak").size(), 1u);
    EXPECT_EQ(Archive("d1.pak")[0].name, "");
}

TEST_F(ScriptWarningsTest, IgnorePatternsThatMatchNothing)
{
    const std::string generate = "<CreateOrvanPackXml Input=\"src\" XmlPath=\"g.xml\" ArchivePath=\"g.pak\">\n";
    ExpectWarnings({
        // Letter case counts in Ignore patterns, so a misspelt one is named.
        {generate + "<Ignore Pattern=\"*.TXT\"/>\n<Ignore Pattern=\"c.*\"/>\n<Ignore Pattern=\"*.txt\"/>\n"
                    "<Ignore Pattern=\"\"/>\n</CreateOrvanPackXml>\n",
         "script.xml(3): Ignore pattern *.TXT matched nothing!\nscript.xml(6): Ignore pattern  matched nothing!\n"},
    });
    // The script is written all the same, without the file.
    EXPECT_TRUE(Exists("g.xml"));
}

TEST_F(ScriptWarningsTest, EntriesAReaderCannotTellApart)
{
    dir_.Write("src/d.txt", "dee");
    const auto file = [](const std::string& archived, const std::string& source = "src/c.txt") {
        return "<File ArchivedPath=\"" + archived + "\">" + source + "</File>\n";
    };
    const std::string pack = "<CreateOrvanPack ArchivePath=\"a.pak\">\n";
    std::string distinct = pack;
    for (int i = 0; i < 400; ++i)
        distinct += file("dir/file" + std::to_string(i) + ".txt");
    ExpectWarnings({
        // Two names of one CRC-32 (0x4abf27d1).
        {pack + file("textures/wlkffsvo.png") + file("textures/okxxbftd.png", "src/d.txt") + "</CreateOrvanPack>\n",
         "script.xml(4): ArchivedPath textures/okxxbftd.png has the name hash of textures/wlkffsvo.png (line 3)!\n"},
        // Letter case and separators do not count; each later one names the first.
        {pack + file("textures/logo.png") + file("Textures\\Logo.PNG") + file("textures/logo.png") +
             "</CreateOrvanPack>\n",
         "script.xml(4): ArchivedPath Textures\\Logo.PNG names the same entry as line 3!\n"
         "script.xml(5): ArchivedPath textures/logo.png names the same entry as line 3!\n"},
        // A same name comes before a mere same hash; control characters are shown.
        {pack + file("textures/wlkffsvo.png") + file("textures/okxxbftd.png") + file("TEXTURES/OKXXBFTD.PNG") +
             file("x&#27;") + file("x&#27;") + "</CreateOrvanPack>\n",
         "script.xml(4): ArchivedPath textures/okxxbftd.png has the name hash of textures/wlkffsvo.png (line 3)!\n"
         "script.xml(5): ArchivedPath TEXTURES/OKXXBFTD.PNG names the same entry as line 4!\n"
         "script.xml(7): ArchivedPath x\\x1b names the same entry as line 6!\n"},
        // Only stored entries count, and each archive is its own name space.
        {pack + file("same", "src/missing") + file("same") + file("same", "src/missing") + "</CreateOrvanPack>\n" +
             "<CreateOrvanPack ArchivePath=\"b.pak\">\n" + file("same") + "</CreateOrvanPack>\n",
         "Cannot compress src/missing!\nCannot compress src/missing!\n"},
        {distinct + "</CreateOrvanPack>\n", "", 0},
    });
    // The archive is as it always was: every entry stored.
    RunCommands(pack + file("textures/logo.png") + file("Textures\\Logo.PNG") + "</CreateOrvanPack>\n");
    EXPECT_EQ(Archive("a.pak").size(), 2u);
}

TEST_F(ScriptWarningsTest, ControlCharactersInMessagesAreShownNotObeyed)
{
    // A name may hold anything a terminal obeys: escape sequences, C1 controls,
    // a line feed that would forge a second message.
    ExpectWarnings({
        {"<CreateOrvanPack ArchivePath=\"a.pak\">\n" + FileElement("a", "src/\x1b]0;owned\x07") +
             FileElement("b", "src/\xc2\x9b" "31m\x9b") +
             "<File ArchivedPath=\"c\">src/two&#10;lines&#0;</File>\n" +
             FileElement("d", "src/tab\there") + FileElement("e", "docs/\xe2\x80\xae" "fdp.exe") +
             "</CreateOrvanPack>\n",
         "Cannot compress src/\\x1b]0;owned\\x07!\nCannot compress src/\\xc2\\x9b31m\\x9b!\n"
         "Cannot compress src/two\\x0alines\\0!\nCannot compress src/tab\\x09here!\n"
         "Cannot compress docs/\\xe2\\x80\\xaefdp.exe!\n"
         "a.pak not written: none of its 5 files could be stored!\n",
         3},
    });
    // The message that ends a run, too.
    ToolRun run = Run({"no\x1b[2Jsuch.xml"});
    EXPECT_EQ(run.err, "no\\x1b[2Jsuch.xml: cannot open file\n");
    EXPECT_EQ(run.status, 2);
}

TEST_F(ScriptWarningsTest, WarningsComeAsTheProcessorReachesEachElement)
{
    // A command's warnings precede its own messages; an element is named between
    // the commands around it; nothing after a failing command is reached.
    ExpectWarnings({
        {"<CreateOrvanPack ArchivePath=\"a.pak\">\n" + FileElement("m", "src/missing1") +
             "<Typo/>\n</CreateOrvanPack>\n<Bogus/>\n<CreateOrvanPack ArchivePath=\"b.pak\" Typo=\"1\">\n" +
             FileElement("m", "src/missing2") + "</CreateOrvanPack>\n<CreateOrvanPack/>\n<Never/>\n",
         "script.xml(4): unknown element <Typo> ignored!\n"
         "Cannot compress src/missing1!\n"
         "a.pak not written: none of its 1 files could be stored!\n"
         "script.xml(6): unknown element <Bogus> ignored!\n"
         "script.xml(7): unknown attribute Typo of <CreateOrvanPack> ignored!\n"
         "Cannot compress src/missing2!\n"
         "b.pak not written: none of its 1 files could be stored!\n"
         "No such node (<xmlattr>.ArchivePath)\n",
         2},
    });
}

TEST_F(ScriptWarningsTest, CheckSummarisesEachCommandAndWritesNothing)
{
    dir_.Write("src/d.txt", "dee");
    std::filesystem::resize_file(dir_.Write("src/huge", ""), std::uint64_t{5} << 30);
    WriteScript("script.xml",
                "<CreateOrvanPack ArchivePath=\"a.pak\">\n" + FileElement("c", "src/c.txt") +
                    FileElement("d", "src/d.txt") + "</CreateOrvanPack>\n"
                    "<CreateOrvanPack ArchivePath=\"missing/b.pak\"/>\n"
                    "<CreateOrvanPackXml Input=\"src\" XmlPath=\"g.xml\" ArchivePath=\"g.pak\"><Add>x</Add>"
                    "</CreateOrvanPackXml>\n"
                    "<CreateOrvanPackXml Input=\"src\" XmlPath=\"nowhere/g.xml\" ArchivePath=\"g.pak\"/>\n");
    WriteScript("big.xml", "<CreateOrvanPack ArchivePath=\"big.pak\">\n" + FileElement("h", "src/huge") +
                               FileElement("h2", "src/huge") + "</CreateOrvanPack>\n");
    const std::vector<std::string> before = Listing();
    ToolRun check = testing::RunInspect({"check", "script.xml", "big.xml"}, dir_.path());
    // Scripts one after the other, in the order given.
    EXPECT_EQ(check.err, "Cannot create missing/b.pak!\nCannot write nowhere/g.xml!\n"
                         "Cannot store src/huge!\nCannot store src/huge!\n"
                         "big.pak not written: none of its 2 files could be stored!\n");
    EXPECT_EQ(check.out, "script.xml(2): a.pak: 2 files, 6 bytes to read\n"
                         "script.xml(6): missing/b.pak: 0 files, 0 bytes to read\n"
                         "script.xml(7): g.xml: a script of 4 files\n"
                         "script.xml(8): nowhere/g.xml: a script of 3 files\n"
                         "big.xml(2): big.pak: 0 files, 0 bytes to read\n");
    EXPECT_EQ(check.status, 3);  // outputs asked for would not be written
    EXPECT_EQ(Listing(), before);

    // Sources that may not fit; JSON; a clean script; a malformed one.
    std::filesystem::resize_file(dir_ / "src/huge", (std::uint64_t{4} << 30) - 1);
    ToolRun note = testing::RunInspect({"check", "big.xml"}, dir_.path());
    EXPECT_EQ(note.err, "");
    EXPECT_NE(note.out.find("big.xml(2): big.pak: note: its sources hold 8589934590 bytes, more than the 4 GiB"),
              std::string::npos) << note.out;
    ToolRun json = testing::RunInspect({"check", "big.xml", "--json"}, dir_.path());
    EXPECT_EQ(json.out, "{\"scripts\":[\"big.xml\"],\"warnings\":[],\"failure\":null,\"commands\":[{\"script\":"
                        "\"big.xml\",\"line\":2,\"command\":\"pack\",\"output\":\"big.pak\",\"files\":2,"
                        "\"bytes\":8589934590,\"mayNotFit\":true}],\"status\":0}\n");
    EXPECT_EQ(json.status, 0);
    WriteScript("bad.xml", "<CreateOrvanPack");
    ToolRun bad = testing::RunInspect({"check", "big.xml", "bad.xml"}, dir_.path());
    EXPECT_EQ(bad.err, "bad.xml(2): expected >\n");
    EXPECT_EQ(bad.out, "");
    EXPECT_EQ(bad.status, 2);
    EXPECT_EQ(Run({"big.xml", "bad.xml"}).err, bad.err);
}

}  // namespace
}  // namespace zelkor
