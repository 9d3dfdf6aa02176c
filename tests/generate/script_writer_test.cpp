#include "generate/script_writer.h"

#include <unistd.h>

#include <filesystem>
#include <optional>
#include <stdexcept>
#include <utility>

#include <gtest/gtest.h>

#include "generate/directory_scanner.h"
#include "script/wildcard_matcher.h"
#include "script/script_loader.h"
#include "support/golden_file.h"
#include "support/temp_dir.h"
#include "support/system_tests.h"

namespace zelkor {
namespace {

namespace fs = std::filesystem;
using boost::property_tree::ptree;
using testing::TempDir;
using Paths = std::vector<std::string>;
using FileElement = std::pair<std::string, std::string>;  // archived path, source path
using FileElements = std::vector<FileElement>;

// Makes a directory the working directory for the life of the object, since the
// generated paths are relative to it.
class WorkingDirectory {
public:
    explicit WorkingDirectory(const fs::path& path) : previous_(fs::current_path())
    {
        fs::current_path(path);
    }
    ~WorkingDirectory() { fs::current_path(previous_); }
    WorkingDirectory(const WorkingDirectory&) = delete;
    WorkingDirectory& operator=(const WorkingDirectory&) = delete;

private:
    fs::path previous_;
};

// The inputs of one generate command, with defaults the tests change as needed.
struct Request {
    std::string output = "out.xml";
    std::string source = "src";
    std::string prefix;
    std::string archivePath = "out/a.pak";
    Paths ignore;
    Paths added;
    bool buildKeyfile = false;
    std::string keyPath;
    std::optional<std::string> keySeedPath;
};

struct Generated {
    bool written = false;
    Paths unreadable;
};

// The three steps of a generate command: scan, filter, write.
Generated Generate(const Request& r)
{
    GenerateCommand command;
    command.outputPath = r.output;
    command.sourceDirectory = r.source;
    command.archivePrefix = r.prefix;
    command.archivePath = r.archivePath;
    command.ignorePatterns = r.ignore;
    command.addedPaths = r.added;
    command.buildKeyfile = r.buildKeyfile;
    command.keyPath = r.keyPath;
    command.keySeedPath = r.keySeedPath;
    command.Normalize();
    DirectoryScanner::Result scan = DirectoryScanner::Scan(command.sourceDirectory);
    ApplyIgnorePatterns(scan.paths, command.ignorePatterns);
    return {ScriptWriter::Write(command, scan.paths), scan.unreadable};
}

// Every test runs in its own empty working directory.
class ScriptWriterTest : public ::testing::Test {
protected:
    // Generates and returns the text written to the output.
    std::string Text(const Request& r)
    {
        EXPECT_TRUE(Generate(r).written);
        return dir_.Read(r.output);
    }

    // Generates, loads the script back and returns its command.
    ptree Command(const Request& r)
    {
        EXPECT_TRUE(Generate(r).written);
        ptree tree;
        ScriptLoader::Load(r.output, tree);
        EXPECT_EQ(tree.size(), 1u);
        std::size_t elements = 0;
        for (const auto& [name, child] : tree.get_child("ScriptFile"))
            elements += name.front() != '<';  // not the lines or a comment
        EXPECT_EQ(elements, 1u);
        return tree.get_child("ScriptFile.CreateOrvanPack");
    }

    // Generates, loads the script back and returns its File elements.
    FileElements Files(const Request& r)
    {
        FileElements files;
        for (const auto& [name, child] : Command(r)) {
            if (name == "File")
                files.emplace_back(child.get<std::string>("<xmlattr>.ArchivedPath"), child.data());
        }
        return files;
    }

    TempDir dir_;
    WorkingDirectory cwd_{dir_.path()};
};

TEST_F(ScriptWriterTest, ExampleScriptMatchesTheGoldenFile)
{
    for (const char* file : {"button.png", "font.ttf", "icons/a.png", "skins/c.png", "skins/dark/b.png"})
        dir_.Write(std::string("assets/ui/") + file, "x");
    fs::create_directory("scripts");

    const Generated result =
        Generate({"scripts/ui.xml", "assets\\ui", "ui", "out/ui.bin", {"*.ttf"}, {"docs\\readme.txt"}, true,
                  "out/ui.key", std::nullopt});
    EXPECT_TRUE(result.written);
    EXPECT_TRUE(result.unreadable.empty());
    testing::ExpectMatchesGolden("generate/ui.xml", dir_.Read("scripts/ui.xml"));
}

TEST_F(ScriptWriterTest, EmptyTreeGivesTheFourFixedLines)
{
    fs::create_directory("src");
    Request request;
    request.keyPath = "ignored.key";
    EXPECT_EQ(Text(request),
              "<ScriptFile>\r\n"
              "\t<CreateOrvanPack ArchivePath=\"out/a.pak\" BuildKeyfile=\"false\" >\r\n"
              "\t</CreateOrvanPack>\r\n"
              "</ScriptFile>");

    // With the flag set, KeyPath is written even when it is empty.
    request.buildKeyfile = true;
    request.keyPath.clear();
    EXPECT_EQ(Text(request),
              "<ScriptFile>\r\n"
              "\t<CreateOrvanPack ArchivePath=\"out/a.pak\" BuildKeyfile=\"true\" KeyPath=\"\" >\r\n"
              "\t</CreateOrvanPack>\r\n"
              "</ScriptFile>");
}

TEST_F(ScriptWriterTest, KeySeedPathFollowsTheKeyPieces)
{
    fs::create_directory("src");
    struct Case {
        bool buildKeyfile;
        std::optional<std::string> keySeedPath;
        std::string openingTag;
    };
    const std::vector<Case> cases = {
        {false, std::nullopt, "<CreateOrvanPack ArchivePath=\"out/a.pak\" BuildKeyfile=\"false\" >"},
        {false, "keys\\seed", "<CreateOrvanPack ArchivePath=\"out/a.pak\" BuildKeyfile=\"false\" KeySeedPath=\"keys\\seed\" >"},
        {true, "s", "<CreateOrvanPack ArchivePath=\"out/a.pak\" BuildKeyfile=\"true\" KeyPath=\"k\" KeySeedPath=\"s\" >"},
        {true, "", "<CreateOrvanPack ArchivePath=\"out/a.pak\" BuildKeyfile=\"true\" KeyPath=\"k\" KeySeedPath=\"\" >"},
        {false, "a&\"<b", "<CreateOrvanPack ArchivePath=\"out/a.pak\" BuildKeyfile=\"false\" KeySeedPath=\"a&amp;&quot;&lt;b\" >"},
    };
    for (const Case& c : cases) {
        Request request;
        request.buildKeyfile = c.buildKeyfile;
        request.keyPath = "k";
        request.keySeedPath = c.keySeedPath;
        EXPECT_EQ(Text(request),
                  "<ScriptFile>\r\n\t" + c.openingTag + "\r\n\t</CreateOrvanPack>\r\n</ScriptFile>");
        if (c.keySeedPath) {
            EXPECT_EQ(Command(request).get<std::string>("<xmlattr>.KeySeedPath"), *c.keySeedPath);
        }
    }
}

TEST_F(ScriptWriterTest, ArchivePrefixForms)
{
    dir_.Write("src/skins/c.png", "");
    const std::pair<const char*, const char*> cases[] = {
        {"", "skins/c.png"},
        {"data\\ui", "data/ui/skins/c.png"},
        {"data/ui", "data/ui/skins/c.png"},
        {"data\\ui\\", "data\\ui\\skins/c.png"},  // ends in a separator: left as written
        {"data\\ui/", "data\\ui/skins/c.png"},
        {"a:b", "a:b/skins/c.png"},
    };
    for (const auto& [prefix, archived] : cases) {
        Request request;
        request.prefix = prefix;
        EXPECT_EQ(Files(request), (FileElements{{archived, "src/skins/c.png"}})) << prefix;
    }
}

TEST_F(ScriptWriterTest, SourceDirectoryForms)
{
    dir_.Write("assets/ui/skins/c.png", "");
    for (const char* source : {"assets\\ui", "assets\\ui\\", "assets/ui", "assets/ui/"}) {
        Request request;
        request.source = source;
        EXPECT_EQ(Files(request), (FileElements{{"skins/c.png", "assets/ui/skins/c.png"}})) << source;
    }
}

TEST_F(ScriptWriterTest, AddedPathsFollowTheScanUnfiltered)
{
    dir_.Write("src/a.psd", "");
    dir_.Write("src/b.txt", "");
    Request request;
    request.prefix = "p";
    request.ignore = {"*.psd"};
    request.added = {"\\extra\\x.txt", "c.psd", "b.txt", ""};
    EXPECT_EQ(Files(request), (FileElements{
                                  {"p/b.txt", "src/b.txt"},
                                  {"p/extra/x.txt", "src//extra/x.txt"},
                                  {"p/c.psd", "src/c.psd"},   // matches a pattern: kept
                                  {"p/b.txt", "src/b.txt"},   // already scanned: listed twice
                                  {"p/", "src/"},             // empty: prefix and directory alone
                              }));
}

TEST_F(ScriptWriterTest, EmptySourceDirectoryIsTheWorkingDirectory)
{
    dir_.Write("a.txt", "");
    dir_.Write("sub/b.txt", "");
    Request request;
    request.source = "";
    request.prefix = "p";
    request.added = {"\\x.txt", "y.txt"};
    request.output = "sub/out.xml";
    // No "/" in front of any source path: that would name the file-system root.
    EXPECT_EQ(Files(request), (FileElements{
                                  {"p/a.txt", "a.txt"},
                                  {"p/sub/b.txt", "sub/b.txt"},
                                  {"p/x.txt", "x.txt"},
                                  {"p/y.txt", "y.txt"},
                              }));
}

TEST_F(ScriptWriterTest, SpecialCharactersReadBackUnchanged)
{
    std::string allBytes;  // every byte a file name may hold
    for (int c = 1; c < 256; ++c)
        allBytes += c == '/' ? "" : std::string(1, static_cast<char>(c));
    // In scan order.
    Paths names = {allBytes, " sp ", "amp&amp;", "cr\r\nlf", "it's", "q\"<>", "x]]>y", "]]"};
    if (testing::OnWindows) {
        // Windows names are UTF-16 without controls or any of <>:"/\|?*: every
        // other ASCII character, and characters beyond it.
        allBytes.clear();
        for (int c = 32; c < 127; ++c)
            if (std::string_view("<>:\"/\\|?*").find(static_cast<char>(c)) == std::string_view::npos)
                allBytes += static_cast<char>(c);
        names = {allBytes + "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80", " sp", "amp&amp;", "it's", "]]"};
    }
    FileElements expected;
    for (const std::string& name : names) {
        dir_.Write("src/" + name, "");
        expected.emplace_back("p&\"<'>/" + name, "src/" + name);
    }
    // Names that no file has, but a script may give: a NUL reads back too.
    using namespace std::string_literals;
    expected.emplace_back("p&\"<'>/add&\"<]]>'\0!"s, "src/add&\"<]]>'\0!"s);

    Request request;
    request.prefix = "p&\"<'>/";
    request.archivePath = "o&u\"t<'>\0.pak"s;
    request.buildKeyfile = true;
    request.keyPath = "k&e\"y<'>]]>\r\n\0.zlk"s;
    request.keySeedPath = "s\0eed"s;
    request.added = {"add&\"<]]>'\0!"s};
    EXPECT_EQ(Files(request), expected);
    const ptree command = Command(request);
    EXPECT_EQ(command.get<std::string>("<xmlattr>.ArchivePath"), request.archivePath);
    EXPECT_EQ(command.get<std::string>("<xmlattr>.KeyPath"), request.keyPath);
    EXPECT_EQ(command.get<std::string>("<xmlattr>.KeySeedPath"), request.keySeedPath);
}

TEST_F(ScriptWriterTest, EscapedFormsAndPlainValues)
{
    dir_.Write("src/a&b's.txt", "");
    Request request;
    // A name that holds "]]>", which Windows does not allow, is added instead.
    if (testing::OnWindows)
        request.added = {"x]]>y"};
    else
        dir_.Write("src/x]]>y", "");
    request.archivePath = "q\"<>.pak";
    const std::string text = Text(request);
    EXPECT_NE(text.find("ArchivePath=\"q&quot;&lt;>.pak\""), std::string::npos) << text;
    EXPECT_NE(text.find("<File ArchivedPath=\"a&amp;b's.txt\"><![CDATA[src/a&b's.txt]]></File>"),
              std::string::npos) << text;
    EXPECT_NE(text.find("<File ArchivedPath=\"x]]>y\"><![CDATA[src/x]]]]><![CDATA[>y]]></File>"),
              std::string::npos) << text;
}

TEST_F(ScriptWriterTest, UnreadableSourceIsReportedAndTheScriptStillWritten)
{
    Request request;
    request.source = "missing";
    request.added = {"x.txt"};
    const Generated result = Generate(request);
    EXPECT_TRUE(result.written);
    EXPECT_EQ(result.unreadable, (Paths{"missing/"}));
    EXPECT_EQ(Files(request), (FileElements{{"x.txt", "missing/x.txt"}}));
}

TEST_F(ScriptWriterTest, OutputIsReplacedWholeOrLeftAlone)
{
    dir_.Write("src/a", "");
    dir_.Write("out.xml", std::string(10000, 'x'));
    Request request;
    EXPECT_EQ(Files(request), (FileElements{{"a", "src/a"}}));
    EXPECT_EQ(dir_.Read("out.xml").find('x'), std::string::npos);

    for (const char* output : {"no/such/dir/out.xml", ""}) {
        request.output = output;
        EXPECT_FALSE(Generate(request).written) << output;
    }
    // A directory cannot be replaced: it stays as it was, with no temporary file
    // left beside it.
    dir_.Write("taken/keep", "k");
    request.output = "taken";
    EXPECT_FALSE(Generate(request).written);
    EXPECT_EQ(dir_.Read("taken/keep"), "k");
    std::size_t count = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator("."))
        ++count;
    EXPECT_EQ(count, 3u);  // src, out.xml and taken
}

}  // namespace
}  // namespace zelkor
