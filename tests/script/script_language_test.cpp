#include "script/script_language.h"

#include <gtest/gtest.h>

#include <boost/property_tree/exceptions.hpp>

#include "script/script_loader.h"

namespace zelkor {
namespace {

using boost::property_tree::ptree;
using Parts = language::InputParts;

ptree Parse(const std::string& text)
{
    ptree tree;
    ScriptLoader::Parse(text, "test.xml", tree);
    return tree;
}

std::string FailureOf(const std::function<void()>& lookup)
{
    try {
        lookup();
    } catch (const boost::property_tree::ptree_bad_path& error) {
        return error.what();
    }
    return {};
}

TEST(ScriptLanguageTest, RootIsTheFirstTopLevelScriptFile)
{
    ptree tree = Parse("<Other/><ScriptFile A=\"1\"/><ScriptFile A=\"2\"/>");
    EXPECT_EQ(language::RequiredAttribute(language::Root(tree), "A"), "1");

    ptree wrongCase = Parse("<scriptfile/>");
    EXPECT_EQ(FailureOf([&] { language::Root(wrongCase); }), "No such node (ScriptFile)");
}

TEST(ScriptLanguageTest, AttributesAreTakenExactly)
{
    ptree element = Parse("<E Path=\" a &amp; b \" Empty=\"\"/>").get_child("E");
    EXPECT_EQ(language::RequiredAttribute(element, "Path"), " a & b ");
    EXPECT_EQ(language::OptionalAttribute(element, "Empty"), std::optional<std::string>(""));
    EXPECT_EQ(language::OptionalAttribute(element, "Missing"), std::nullopt);
    EXPECT_EQ(language::OptionalAttribute(element, "path"), std::nullopt);

    EXPECT_EQ(FailureOf([&] { language::RequiredAttribute(element, "ArchivePath"); }),
              "No such node (<xmlattr>.ArchivePath)");
    ptree bare = Parse("<E/>").get_child("E");
    EXPECT_EQ(FailureOf([&] { language::RequiredAttribute(bare, "XmlPath"); }),
              "No such node (<xmlattr>.XmlPath)");
}

TEST(ScriptLanguageTest, BooleanForms)
{
    const std::vector<std::pair<std::string, bool>> cases = {
        {"true", true},   {"1", true},     {" 1 ", true},   {"01", true},   {"\ttrue\n", true},
        {"false", false}, {"0", false},    {"yes", false},  {"True", false}, {"TRUE", false},
        {"", false},      {"2", false},    {"1x", false},   {"-1", false},  {"on", false},
    };
    for (const auto& [value, expected] : cases) {
        ptree element = Parse("<E B=\"" + value + "\"/>").get_child("E");
        EXPECT_EQ(language::BooleanAttribute(element, "B"), expected) << "'" << value << "'";
    }
    EXPECT_FALSE(language::BooleanAttribute(Parse("<E/>").get_child("E"), "B"));
}

TEST(ScriptLanguageTest, InputSplitsAtTheFirstColon)
{
    auto split = [](const std::string& input) {
        Parts parts = language::SplitInput(input);
        return std::make_pair(parts.sourceDirectory, parts.archivePrefix);
    };
    using P = std::pair<std::string, std::string>;
    EXPECT_EQ(split("data:pack/"), P("data", "pack/"));
    EXPECT_EQ(split("data"), P("data", ""));
    EXPECT_EQ(split("D:\\data:pack"), P("D", "\\data:pack"));
    EXPECT_EQ(split(":pack"), P("", "pack"));
    EXPECT_EQ(split("data:"), P("data", ""));
    EXPECT_EQ(split(""), P("", ""));
}

}  // namespace
}  // namespace zelkor
