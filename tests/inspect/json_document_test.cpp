// The document as written: members in order, arrays streamed, valid UTF-8 always.
#include "inspect/json_document.h"

#include <sstream>

#include <gtest/gtest.h>

namespace zelkor {
namespace {

using Value = JsonDocument::Value;

TEST(JsonDocumentTest, MembersAndStreamedArraysKeepTheirOrder)
{
    std::ostringstream out;
    JsonDocument json(out);
    json.Members(Value{{"z", 1}, {"a", nullptr}});
    json.BeginArray("list");
    json.Element(std::uint64_t{4294967295});
    json.Element(0.25);
    json.Element(Value{{"b", true}, {"a", Value::array()}});
    json.EndArray();
    json.BeginArray("none");
    json.EndArray();
    json.Member("after", "x");
    json.End();
    EXPECT_EQ(out.str(), "{\"z\":1,\"a\":null,\"list\":[4294967295,0.25,{\"b\":true,\"a\":[]}],\"none\":[],"
                         "\"after\":\"x\"}\n");
    EXPECT_TRUE(Value::accept(out.str()));
}

TEST(JsonDocumentTest, BytesOutsideUtf8BecomeOneReplacementCharacterEach)
{
    const std::string replacement = "\xef\xbf\xbd";
    const struct {
        std::string bytes;
        std::string text;
    } cases[] = {
        {"a\xe9z", "a" + replacement + "z"},                                          // Latin-1
        {"\xc0\xaf", replacement + replacement},                                      // overlong "/"
        {"\xed\xa0\x80", replacement + replacement + replacement},                    // surrogate
        {"\xf4\x90\x80\x80", replacement + replacement + replacement + replacement},  // above U+10FFFF
        {"\xe2\x82", replacement + replacement},                                      // cut short
        {"\xe2\x82z", replacement + replacement + "z"},
        {"\xff", replacement},
        {"\xf4\x8f\xbf\xbf", "\xf4\x8f\xbf\xbf"},  // U+10FFFF
        {"gr\xc3\xbc\xc3\x9f \xe2\x82\xac", "gr\xc3\xbc\xc3\x9f \xe2\x82\xac"},
        {std::string("q\"b\\\n\x01\x7f\0end", 11), std::string("q\"b\\\n\x01\x7f\0end", 11)},  // escaped, NUL too
    };
    for (const auto& c : cases) {
        std::ostringstream out;
        JsonDocument json(out);
        json.Member(c.bytes, JsonDocument::Text(c.bytes));
        json.End();
        const Value read = Value::parse(out.str());
        EXPECT_EQ(read.begin().key(), c.text);
        EXPECT_EQ(read.begin().value(), c.text);
    }
}

}  // namespace
}  // namespace zelkor
