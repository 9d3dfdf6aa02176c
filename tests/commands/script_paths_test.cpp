// Paths that a script hands to the file system: backslashes separate directories
// there, while messages show each path as the script wrote it.
#include <gtest/gtest.h>

#include "processor_fixture.h"
#include "support/golden_file.h"
#include "support/system_tests.h"

namespace zelkor {
namespace {

using testing::ArchivedContents;
using testing::ArchivedNames;
using testing::FileElement;
using testing::ToolRun;
using Names = std::vector<std::string>;

class ScriptPathsTest : public testing::ProcessorTest {
protected:
    void SetUp() override
    {
        dir_.Write("src/sub/c.txt", "see");
        std::filesystem::create_directories(dir_ / "out/keys");
    }

    // Every name below the directory that holds a backslash.
    Names NamesWithBackslashes() const
    {
        Names found;
        for (const auto& entry : std::filesystem::recursive_directory_iterator(dir_.path()))
            if (entry.path().filename().string().find('\\') != std::string::npos)
                found.push_back(entry.path().filename().string());
        return found;
    }
};

TEST_F(ScriptPathsTest, BackslashesSeparateDirectoriesAndMessagesKeepThem)
{
    struct Case {
        std::string commands;
        std::string err;
        Names created;
    };
    std::vector<Case> cases = {
        {"<CreateOrvanPack ArchivePath=\"out\\Gr\xC3\xB6\xC3\x9F" "e.pak\">" + FileElement("\xC3\xA9", "src\\sub\\c.txt") +
             "</CreateOrvanPack>",
         "", {"out/Gr\xC3\xB6\xC3\x9F" "e.pak"}},
        {"<CreateOrvanPack ArchivePath=\"out\\a.pak\" BuildKeyfile=\"true\">" +
             FileElement("sub\\c.txt", "src\\sub\\c.txt") + "</CreateOrvanPack>",
         "", {"out/a.pak", "out/a.pak.zlk"}},
        {"<CreateOrvanPack ArchivePath=\"out\\b.pak\" BuildKeyfile=\"true\" KeyPath=\"out\\keys\\b.zlk\"/>", "",
         {"out/b.pak", "out/keys/b.zlk"}},
        // Listing only a file that cannot be read, it writes nothing.
        {"<CreateOrvanPack ArchivePath=\"out/c.pak\">" + FileElement("x", "src\\none.txt") +
             "</CreateOrvanPack>",
         "Cannot compress src\\none.txt!\nout/c.pak not written: none of its 1 files could be stored!\n", {}},
        {"<CreateOrvanPack ArchivePath=\"nodir\\d.pak\"/>", "Cannot create nodir\\d.pak!\n", {}},
        {"<CreateOrvanPack ArchivePath=\"out\\e.pak\" BuildKeyfile=\"1\" KeyPath=\"nodir\\e.zlk\"/>",
         "Cannot create nodir\\e.zlk!\n", {}},
        {"<CreateOrvanPack ArchivePath=\"nodir\\f.pak\" BuildKeyfile=\"1\"/>", "Cannot create nodir\\f.pak.zlk!\n",
         {}},
        {"<CreateOrvanPackXml Input=\"src\" XmlPath=\"out\\g.xml\" ArchivePath=\"out\\g.pak\"/>", "", {"out/g.xml"}},
        {"<CreateOrvanPackXml Input=\"src\" XmlPath=\"nodir\\h.xml\" ArchivePath=\"h.pak\"/>",
         "Cannot write nodir\\h.xml!\n", {}},
    };
    if (testing::OnWindows) {
        // Paths from a drive letter, in the system's own \\?\ form, one past
        // the classic limit of 260 characters, and one relative to a drive.
        const std::string root = dir_.path().string();
        const std::string longName = std::string(240, 'l') + ".pak";
        cases.push_back({"<CreateOrvanPack ArchivePath=\"" + root + "\\out\\i.pak\" BuildKeyfile=\"true\">" +
                             FileElement("c", root + "\\src\\sub\\c.txt") + "</CreateOrvanPack>",
                         "", {"out/i.pak", "out/i.pak.zlk"}});
        cases.push_back({"<CreateOrvanPack ArchivePath=\"\\\\?\\" + root + "\\out\\j.pak\"/>", "", {"out/j.pak"}});
        cases.push_back({"<CreateOrvanPack ArchivePath=\"out\\" + longName + "\" BuildKeyfile=\"true\">" +
                             FileElement("c", "src/sub/c.txt") + "</CreateOrvanPack>",
                         "", {"out/" + longName, "out/" + longName + ".zlk"}});
        // Drive-relative: below that drive's working directory, the tool's own.
        cases.push_back({"<CreateOrvanPack ArchivePath=\"" + root.substr(0, 2) + "out\\k.pak\"/>", "", {"out/k.pak"}});
    }
    for (const Case& c : cases) {
        SCOPED_TRACE(c.commands);
        std::filesystem::remove_all(dir_ / "out");
        std::filesystem::create_directories(dir_ / "out/keys");
        ToolRun run = RunCommands(c.commands + "\n");
        EXPECT_EQ(run.err, c.err);
        // Every warning here says that an output was not written.
        EXPECT_EQ(run.status, c.err.empty() ? 0 : 3);
        Names created;
        for (const auto& entry : std::filesystem::recursive_directory_iterator(dir_ / "out"))
            if (entry.is_regular_file())
            {
                const std::u8string name = std::filesystem::relative(entry.path(), dir_.path()).generic_u8string();
                created.push_back(std::string(name.begin(), name.end()));
            }
        std::sort(created.begin(), created.end());
        EXPECT_EQ(created, c.created);
        EXPECT_EQ(NamesWithBackslashes(), Names{});
    }
}

// A script as a Windows editor saves it: CR LF line ends, backslashes in every
// path. It builds what it says, and its warnings count lines as the editor does.
TEST_F(ScriptPathsTest, WindowsScriptWithCrLfLineEnds)
{
    dir_.Write("icons/hicolor/index.theme", "[Icon Theme]\nName=hicolor\n");
    dir_.Write("icons/hicolor/48x48/app.png", std::string(3000, 'p'));
    dir_.Write("docs/readme.txt", "read me");
    const std::vector<std::string> lines = {
        "<?xml version=\"1.0\" encoding=\"utf-8\"?>",
        "<ScriptFile>",
        "  <!-- Written on Windows -->",
        "  <CreateOrvanPack ArchivePath=\"out\\win.pak\" BuildKeyfile=\"true\" KeyPath=\"out\\keys\\win.zlk\">",
        "    <File ArchivedPath=\"icons\\hicolor\\index.theme\"><![CDATA[icons\\hicolor\\index.theme]]></File>",
        "    <File ArchivedPath=\"docs\\readme.txt\">docs\\readme.txt</File>",
        "    <Flie ArchivedPath=\"docs\\typo.txt\">docs\\readme.txt</Flie>",
        "    <File ArchivedPath=\"docs\\missing.txt\"><![CDATA[docs\\missing.txt]]></File>",
        "  </CreateOrvanPack>",
        "  <CreateOrvanPackXml Input=\"icons\\hicolor:icons\" XmlPath=\"out\\icons.xml\"",
        "                      ArchivePath=\"out\\icons.pak\" BuildKeyfile=\"true\">",
        "    <Ignore Pattern=\"*.theme\"/>",
        "    <Add><![CDATA[..\\..\\docs\\readme.txt]]></Add>",
        "  </CreateOrvanPackXml>",
        "</ScriptFile>",
    };
    std::string script;
    for (const std::string& line : lines)
        script += line + "\r\n";
    dir_.Write("windows.xml", script);

    ToolRun run = Run({"windows.xml"});
    EXPECT_EQ(run.status, 1);
    testing::ExpectMatchesGolden("windows/stderr.txt", run.err);
    auto files = Archive("out/win.pak", "out/keys/win.zlk");
    EXPECT_EQ(ArchivedNames(files), (Names{"icons\\hicolor\\index.theme", "docs\\readme.txt"}));
    EXPECT_EQ(ArchivedContents(files), (Names{"[Icon Theme]\nName=hicolor\n", "read me"}));
    testing::ExpectMatchesGolden("windows/icons.xml", dir_.Read("out/icons.xml"));

    // The generated script keeps ArchivePath as written and an empty KeyPath; run,
    // it builds the archive beside the default key file.
    run = Run({"out/icons.xml"});
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.status, 0);
    files = Archive("out/icons.pak", "out/icons.pak.zlk");
    EXPECT_EQ(ArchivedNames(files), (Names{"icons/48x48/app.png", "icons/../../docs/readme.txt"}));
    EXPECT_EQ(ArchivedContents(files), (Names{std::string(3000, 'p'), "read me"}));
    EXPECT_EQ(NamesWithBackslashes(), Names{});
}

}  // namespace
}  // namespace zelkor
