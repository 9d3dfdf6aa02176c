#include "script/script_loader.h"

#include <optional>
#include <tuple>

#include <gtest/gtest.h>

#include <boost/property_tree/detail/xml_parser_error.hpp>

#include "support/temp_dir.h"

namespace zelkor {
namespace {

using boost::property_tree::ptree;
using boost::property_tree::xml_parser::xml_parser_error;
using testing::TempDir;

class ScriptLoaderTest : public ::testing::Test {
protected:
    // Loads `content` from a file named script.xml; returns the tree.
    ptree LoadText(const std::string& content)
    {
        dir_.Write("script.xml", content);
        ptree tree;
        ScriptLoader::Load((dir_ / "script.xml").string(), tree);
        return tree;
    }

    // The failure text of loading `content`; empty when it loads.
    std::string FailureOf(const std::string& content)
    {
        try {
            LoadText(content);
        } catch (const xml_parser_error& error) {
            return error.what();
        }
        return {};
    }

    std::string ScriptPath() const { return (dir_ / "script.xml").string(); }

    TempDir dir_;
};

TEST_F(ScriptLoaderTest, ElementsAttributesAndCommentsInDocumentOrder)
{
    ptree tree = LoadText(
        "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
        "<ScriptFile>\n"
        "  <CreateOrvanPack ArchivePath=\"out/a.pak\" BuildKeyfile=\"true\">\n"
        "    <File ArchivedPath=\"a.png\"><![CDATA[src/a.png]]></File>\n"
        "  </CreateOrvanPack>\n"
        "  <!-- a note -->\n"
        "  <CreateOrvanPack ArchivePath=\"out/b.pak\"/>\n"
        "</ScriptFile>\n");

    ASSERT_EQ(tree.size(), 1u);
    const ptree& script = tree.get_child("ScriptFile");
    EXPECT_EQ(script.data(), "");
    std::vector<std::string> keys;
    for (const auto& child : script)
        keys.push_back(child.first);
    // ScriptFile has no attributes, so it holds its lines in a child of its own.
    EXPECT_EQ(keys, (std::vector<std::string>{"<xmllines>", "CreateOrvanPack", "<xmlcomment>", "CreateOrvanPack"}));

    const ptree& pack = std::next(script.begin())->second;
    EXPECT_EQ(pack.get<std::string>("<xmlattr>.ArchivePath"), "out/a.pak");
    EXPECT_EQ(pack.get<std::string>("<xmlattr>.BuildKeyfile"), "true");
    EXPECT_EQ(pack.get<std::string>("File"), "src/a.png");
    EXPECT_EQ(pack.get<std::string>("File.<xmlattr>.ArchivedPath"), "a.png");
    EXPECT_EQ(std::next(script.begin(), 2)->second.data(), " a note ");
    EXPECT_FALSE(script.back().second.get_child_optional("File"));
}

TEST_F(ScriptLoaderTest, WhiteSpaceOnlyRunsAreDroppedOtherRunsKeptWhole)
{
    ptree tree = LoadText(
        "<R>\n"
        "  <Cdata>\n\t<![CDATA[a.png]]>\n  </Cdata>\n"
        "  <Blanks>  a b.png \n</Blanks>\n"
        "  <Mixed>\n  <![CDATA[ x ]]>y<!--c--> z\n</Mixed>\n"
        "  <Empty></Empty>\n"
        "  <Spaces>   </Spaces>\n"
        "  <CdataSpaces><![CDATA[  ]]></CdataSpaces>\n"
        "</R>");
    const ptree& root = tree.get_child("R");
    EXPECT_EQ(root.data(), "");
    EXPECT_EQ(root.get<std::string>("Cdata"), "a.png");
    EXPECT_EQ(root.get<std::string>("Blanks"), "  a b.png \n");
    EXPECT_EQ(root.get<std::string>("Mixed"), " x y z\n");
    EXPECT_EQ(root.get<std::string>("Empty"), "");
    EXPECT_EQ(root.get<std::string>("Spaces"), "");
    EXPECT_EQ(root.get<std::string>("CdataSpaces"), "  ");
}

TEST_F(ScriptLoaderTest, ReferencesAreDecodedAndUnknownOnesKept)
{
    ptree tree = LoadText(
        "<R A=\"&amp;&lt;&gt;&quot;&apos;&#65;&#x42;\">&amp;x&foo;y&#x43;<![CDATA[&amp;]]></R>");
    EXPECT_EQ(tree.get<std::string>("R.<xmlattr>.A"), "&<>\"'AB");
    EXPECT_EQ(tree.get<std::string>("R"), "&x&foo;yC&amp;");
}

TEST_F(ScriptLoaderTest, LenientForms)
{
    // A byte-order mark, a mismatched closing tag, two top-level elements, a doctype.
    ptree tree = LoadText("\xEF\xBB\xBF<!DOCTYPE x><A>1</B><ScriptFile/>");
    ASSERT_EQ(tree.size(), 2u);
    EXPECT_EQ(tree.front().first, "A");
    EXPECT_EQ(tree.front().second.data(), "1");
    EXPECT_EQ(tree.back().first, "ScriptFile");
}

TEST_F(ScriptLoaderTest, EmptyOrBlankFileIsAnEmptyTree)
{
    EXPECT_TRUE(LoadText("").empty());
    EXPECT_TRUE(LoadText(" \n\t\r\n").empty());
}

TEST_F(ScriptLoaderTest, CrLfReadsAsLf)
{
    const std::string lf = "<R>\n<F>\n<![CDATA[a\nb]]>\n</F>\n<G>x\ny</G>\n</R>\n";
    std::string crlf;
    for (char c : lf)
        crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
    EXPECT_EQ(LoadText(crlf), LoadText(lf));
    EXPECT_EQ(LoadText(crlf).get<std::string>("R.F"), "a\nb");
    // Line numbers count the same line ends.
    EXPECT_EQ(FailureOf("<R>\r\n\r\n<"), FailureOf("<R>\n\n<"));
}

TEST_F(ScriptLoaderTest, ElementsKnowTheLinesOfTheirNamesAndAttributes)
{
    // References that decode to line feeds, or from several bytes to one, do not
    // shift the lines after them.
    const std::string lf =
        "<ScriptFile>\n"
        "  <CreateOrvanPack ArchivePath=\"a&#10;&#10;\"\n"
        "      BuildKeyfile=\"&amp;&amp;\n\"\n"
        "\n"
        "      KeyPath=\"k\">\n"
        "    <File ArchivedPath=\"f\"><![CDATA[\nx\n]]></File>\n"
        "    <Other\n/>\n"
        "  </CreateOrvanPack>\n"
        "</ScriptFile>\n";
    std::string crlf;
    for (char c : lf)
        crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
    for (const std::string& text : {lf, crlf}) {
        const ptree tree = LoadText(text);
        const ptree& script = tree.get_child("ScriptFile");
        const ptree& pack = script.get_child("CreateOrvanPack");
        const std::vector<std::tuple<const ptree*, std::size_t, std::optional<unsigned long>>> cases = {
            {&script, 0, 1},
            {&script, 1, std::nullopt},
            {&pack, 0, 2},
            {&pack, 1, 2},
            {&pack, 2, 3},
            {&pack, 3, 6},
            {&pack, 4, std::nullopt},
            {&pack.get_child("File"), 0, 7},
            {&pack.get_child("File"), 1, 7},
            {&pack.get_child("Other"), 0, 10},
        };
        for (const auto& [element, item, line] : cases)
            EXPECT_EQ(ScriptLoader::Line(*element, item), line) << item;
    }
    // A tree built in code knows no lines.
    ptree built;
    built.put("<xmlattr>.A", "1");
    EXPECT_EQ(ScriptLoader::Line(built, 0), std::nullopt);
    EXPECT_EQ(ScriptLoader::Line(ptree(), 0), std::nullopt);
}

TEST_F(ScriptLoaderTest, ReplacesTheTreeOnlyOnSuccess)
{
    ptree tree;
    tree.put("kept", "yes");
    dir_.Write("bad.xml", "<R>");
    EXPECT_THROW(ScriptLoader::Load((dir_ / "bad.xml").string(), tree), xml_parser_error);
    EXPECT_EQ(tree.get<std::string>("kept"), "yes");
    dir_.Write("good.xml", "<R/>");
    ScriptLoader::Load((dir_ / "good.xml").string(), tree);
    EXPECT_FALSE(tree.get_child_optional("kept"));
    EXPECT_TRUE(tree.get_child_optional("R"));
}

// --- Failures -----------------------------------------------------------------

TEST_F(ScriptLoaderTest, ParseErrorsNameThePathAndLine)
{
    EXPECT_EQ(FailureOf("text<R/>"), ScriptPath() + "(1): expected <");
    EXPECT_EQ(FailureOf("<R>\n<A>\n</A>\n"), ScriptPath() + "(4): unexpected end of data");
    EXPECT_EQ(FailureOf("<R>\n\n<A B></A></R>"), ScriptPath() + "(3): expected =");
    EXPECT_EQ(FailureOf("<R>\n<A>&amp</A></R>"), "");  // an unterminated reference stays text
    // References decoded before the fault do not change its line.
    EXPECT_EQ(FailureOf("<R a=\"&#10;&#10;\" b=\"&amp;&amp;\n\">\n<A B></A></R>"), ScriptPath() + "(3): expected =");
}

TEST_F(ScriptLoaderTest, DeepNestingIsRefusedInsteadOfOverflowingTheStack)
{
    auto nested = [](std::size_t levels, const std::string& open) {
        std::string text;
        for (std::size_t i = 0; i < levels; ++i)
            text += open;
        for (std::size_t i = 0; i < levels; ++i)
            text += "</a>";
        return text;
    };
    // Comments, CDATA, quoted '>' and self-closing tags do not count as levels.
    EXPECT_EQ(FailureOf(nested(256, "<a x='>' y=\"/>\"><!--<b>--><![CDATA[<c>]]><d/>")), "");
    EXPECT_EQ(FailureOf(nested(257, "<a>")),
              ScriptPath() + "(1): elements nested more than 256 levels deep");
    EXPECT_EQ(FailureOf("<R>\n" + nested(300000, "<a>")),
              ScriptPath() + "(2): elements nested more than 256 levels deep");
}

TEST_F(ScriptLoaderTest, UnopenablePathsCannotOpenFile)
{
    ptree tree;
    auto failure = [&](const std::string& path) {
        try {
            ScriptLoader::Load(path, tree);
        } catch (const xml_parser_error& error) {
            return std::string(error.what());
        }
        return std::string();
    };
    const std::string missing = (dir_ / "missing.xml").string();
    EXPECT_EQ(failure(missing), missing + ": cannot open file");
    EXPECT_EQ(failure(dir_.path().string()), dir_.path().string() + ": cannot open file");
    EXPECT_EQ(failure(""), "<unspecified file>: cannot open file");

    // A stream that never ends, and a file too large to be a script, are refused
    // before memory runs out.
    EXPECT_EQ(failure("/dev/zero"), "/dev/zero: script too large");
    const std::string huge = (dir_ / "huge.xml").string();
    std::filesystem::resize_file(dir_.Write("huge.xml", "<ScriptFile/>"), ScriptLoader::MaxScriptSize + 1);
    EXPECT_EQ(failure(huge), huge + ": script too large");
}

}  // namespace
}  // namespace zelkor
