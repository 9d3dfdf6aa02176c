// CreateOrvanPackXml end to end, and a generated script run afterwards.
#include <gtest/gtest.h>

#include "processor_fixture.h"

namespace zelkor {
namespace {

using testing::ArchivedContents;
using testing::ArchivedNames;
using testing::FileElement;
using testing::ToolRun;
using Names = std::vector<std::string>;

class GenerateCommandTest : public testing::ProcessorTest {
protected:
    void SetUp() override
    {
        dir_.Write("assets/b.txt", "bee");
        dir_.Write("assets/A.txt", "ay");
        dir_.Write("assets/art.psd", "layers");
        dir_.Write("assets/sub/c.txt", "sea");
        dir_.Write("docs/readme.txt", "read me");
        std::filesystem::create_directory(dir_ / "out");
    }
};

TEST_F(GenerateCommandTest, GeneratedScriptIsWrittenNotRunAndBuildsTheArchiveLater)
{
    ToolRun run = RunCommands(
        "  <CreateOrvanPackXml Input=\"assets:data\" XmlPath=\"out/gen.xml\" ArchivePath=\"out/gen.pak\""
        " BuildKeyfile=\"1\">\n"
        "    <Ignore Pattern=\"*.psd\"/>\n"
        "    <Patch Anything=\"x\"/>\n"
        "    <Add><![CDATA[..\\docs\\readme.txt]]></Add>\n"
        "  </CreateOrvanPackXml>\n"
        "  <CreateOrvanPack ArchivePath=\"out/direct.pak\">\n" +
        FileElement("b", "assets/b.txt") + "  </CreateOrvanPack>\n");
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(dir_.Read("out/gen.xml"),
              "<ScriptFile>\r\n"
              "\t<CreateOrvanPack ArchivePath=\"out/gen.pak\" BuildKeyfile=\"true\" KeyPath=\"\" >\r\n"
              "\t\t<File ArchivedPath=\"data/A.txt\"><![CDATA[assets/A.txt]]></File>\r\n"
              "\t\t<File ArchivedPath=\"data/b.txt\"><![CDATA[assets/b.txt]]></File>\r\n"
              "\t\t<File ArchivedPath=\"data/sub/c.txt\"><![CDATA[assets/sub/c.txt]]></File>\r\n"
              "\t\t<File ArchivedPath=\"data/../docs/readme.txt\"><![CDATA[assets/../docs/readme.txt]]></File>\r\n"
              "\t</CreateOrvanPack>\r\n"
              "</ScriptFile>");
    EXPECT_FALSE(Exists("out/gen.pak"));
    EXPECT_EQ(ArchivedContents(Archive("out/direct.pak")), Names{"bee"});

    // The generated script's empty KeyPath means the default key file.
    run = Run({"out/gen.xml"});
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(ArchivedNames(Archive("out/gen.pak", "out/gen.pak.zlk")),
              (Names{"data/A.txt", "data/b.txt", "data/sub/c.txt", "data/../docs/readme.txt"}));

    RunCommands("  <CreateOrvanPackXml Input=\"assets\" XmlPath=\"out/gen.xml\" ArchivePath=\"out/gen.pak\""
                " BuildKeyfile=\"true\" KeyPath=\"out/gen.zlk\"/>\n");
    run = Run({"out/gen.xml"});
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.status, 0);
    auto files = Archive("out/gen.pak", "out/gen.zlk");
    EXPECT_EQ(ArchivedNames(files), (Names{"A.txt", "art.psd", "b.txt", "sub/c.txt"}));
    EXPECT_EQ(ArchivedContents(files), (Names{"ay", "layers", "bee", "sea"}));
}

TEST_F(GenerateCommandTest, GeneratedScriptCarriesTheKeySeedAndStoreAndRebuildsTheSameBytes)
{
    dir_.Write("keys/seed", std::string(40, 's'));
    ToolRun run = RunCommands("  <CreateOrvanPackXml Input=\"assets\" XmlPath=\"out/gen.xml\" ArchivePath=\"out/gen.pak\""
                              " KeySeedPath=\"keys\\seed\" Store=\"*.png;*.ogg\"/>\n");
    EXPECT_EQ(run.err, "");
    // Both are copied as they are written, Store last.
    const std::string opening = "<ScriptFile>\r\n\t<CreateOrvanPack ArchivePath=\"out/gen.pak\" BuildKeyfile=\"false\" "
                                "KeySeedPath=\"keys\\seed\" Store=\"*.png;*.ogg\" >\r\n";
    EXPECT_EQ(dir_.Read("out/gen.xml").substr(0, opening.size()), opening);
    run = Run({"out/gen.xml"});
    EXPECT_EQ(run.err, "");
    const std::string first = dir_.Read("out/gen.pak");
    Run({"out/gen.xml"});
    EXPECT_EQ(dir_.Read("out/gen.pak"), first);
    EXPECT_EQ(ArchivedContents(Archive("out/gen.pak")), (Names{"ay", "layers", "bee", "sea"}));
}

TEST_F(GenerateCommandTest, UnscannableSourceAndUnwritableOutputWarn)
{
    ToolRun run = RunCommands(
        "  <CreateOrvanPackXml Input=\"missing:p\" XmlPath=\"out/m.xml\" ArchivePath=\"a.pak\"/>\n"
        "  <CreateOrvanPackXml Input=\"assets\" XmlPath=\"nodir/x.xml\" ArchivePath=\"a.pak\"/>\n");
    EXPECT_EQ(run.err, "Cannot scan missing/!\nCannot write nodir/x.xml!\n");
    EXPECT_EQ(run.status, 3);  // a script asked for was not written
    // The script of the missing source is written all the same, without entries.
    EXPECT_EQ(dir_.Read("out/m.xml"),
              "<ScriptFile>\r\n\t<CreateOrvanPack ArchivePath=\"a.pak\" BuildKeyfile=\"false\" >\r\n"
              "\t</CreateOrvanPack>\r\n</ScriptFile>");
}

// --- Failures -----------------------------------------------------------------

TEST_F(GenerateCommandTest, MissingAttributesAreReportedInLookupOrder)
{
    struct Case {
        std::string element;
        std::string message;
    };
    const std::vector<Case> cases = {
        {"<CreateOrvanPackXml XmlPath=\"out/g.xml\" ArchivePath=\"a\"/>", "No such node (<xmlattr>.Input)"},
        {"<CreateOrvanPackXml Input=\"assets\"><Ignore/></CreateOrvanPackXml>",
         "No such node (<xmlattr>.Pattern)"},
        {"<CreateOrvanPackXml Input=\"assets\"/>", "No such node (<xmlattr>.ArchivePath)"},
        {"<CreateOrvanPackXml Input=\"assets\" ArchivePath=\"a\"/>", "No such node (<xmlattr>.XmlPath)"},
    };
    for (const Case& c : cases) {
        ToolRun run = RunCommands("  " + c.element + "\n");
        EXPECT_EQ(run.err, c.message + "\n") << c.element;
        EXPECT_EQ(run.status, 2) << c.element;
        EXPECT_FALSE(Exists("out/g.xml"));
    }
}

}  // namespace
}  // namespace zelkor
