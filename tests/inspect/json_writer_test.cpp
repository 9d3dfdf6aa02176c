// The JSON writer's documents parse back, whatever bytes the names hold.
#include "inspect/json_writer.h"
#include "platform/hex.h"

#include <sstream>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

namespace zelkor {
namespace {

using nlohmann::json;

// Writes `value` as the only member of an object and parses the document back.
json RoundTrip(std::string_view value)
{
    std::ostringstream out;
    JsonWriter(out).BeginObject().Key("v").String(value).EndObject();
    return json::parse(out.str());
}

TEST(JsonWriterTest, NestsAndSeparatesValues)
{
    std::ostringstream out;
    JsonWriter writer(out);
    writer.BeginObject().Key("list").BeginArray();
    writer.Number(std::uint64_t{4294967295}).Number(0.25).Bool(true).Null();
    writer.BeginObject().EndObject().BeginArray().EndArray();
    writer.EndArray().Key("after").String("x").EndObject();
    EXPECT_EQ(out.str(), "{\"list\":[4294967295,0.25,true,null,{},[]],\"after\":\"x\"}\n");
    EXPECT_TRUE(json::accept(out.str()));
}

TEST(JsonWriterTest, EscapesWhatJsonRequires)
{
    const std::string text = std::string("q\"b\\s/\n\r\t\x01\x1f\x7f", 12) + std::string(1, '\0') + "end";
    EXPECT_EQ(RoundTrip(text)["v"], text);
    EXPECT_EQ(RoundTrip("gr\xc3\xbc\xc3\x9f \xe2\x82\xac \xf0\x9f\x8e\xae")["v"],
              "gr\xc3\xbc\xc3\x9f \xe2\x82\xac \xf0\x9f\x8e\xae");
}

TEST(JsonWriterTest, BytesOutsideUtf8BecomeReplacementCharacters)
{
    const std::string replacement = "\xef\xbf\xbd";
    const struct {
        std::string bytes;
        std::string read;
    } cases[] = {
        {"a\xe9z", "a" + replacement + "z"},                           // Latin-1
        {"\xc0\xaf", replacement + replacement},                       // overlong "/"
        {"\xed\xa0\x80", replacement + replacement + replacement},     // surrogate
        {"\xf4\x90\x80\x80", replacement + replacement + replacement + replacement},  // above U+10FFFF
        {"\xe2\x82", replacement + replacement},                       // cut short
        {"\xff", replacement},
    };
    for (const auto& c : cases) {
        EXPECT_FALSE(JsonWriter::IsValidUtf8(c.bytes)) << HexBytes(c.bytes);
        EXPECT_EQ(RoundTrip(c.bytes)["v"], c.read) << HexBytes(c.bytes);
    }
    EXPECT_TRUE(JsonWriter::IsValidUtf8("\xf4\x8f\xbf\xbf"));  // U+10FFFF
    EXPECT_TRUE(JsonWriter::IsValidUtf8(""));
    EXPECT_EQ(HexBytes("a\xe9"), "61e9");
}

}  // namespace
}  // namespace zelkor
