// verify's report on names: shared name hashes of every kind, a name hash that
// does not fit its name, and names that are not text.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "archive/archive_format.h"
#include "inspect/inspected_archive.h"
#include "inspect_fixture.h"

namespace zelkor {
namespace {

using nlohmann::json;
using testing::ToolRun;

class NameHashReportTest : public testing::InspectTest {};

TEST_F(NameHashReportTest, SharedNameHashesAreWarnedAbout)
{
    // Two different names with equal CRC-32.
    ASSERT_EQ(NameHash("plumless"), NameHash("buckeroo"));
    Craft("a.pak",
          {{"plumless", "p"}, {"Data/A.txt", "a"}, {"buckeroo", "b"}, {"data\\a.txt", "c"}, {"x", "x"},
           {"x", "y"}, {"alone", "z"}},
          true);
    ToolRun run = Inspect({"verify", "a.pak"});
    EXPECT_EQ(run.status, 0) << run.out;  // an intact archive, whatever its names
    EXPECT_EQ(run.out,
              "warning: entries 0 (plumless) and 2 (buckeroo) share name hash 4ddb0c25: different names"
              " whose CRC-32 collide, which a lookup by name cannot tell apart\n"
              "warning: entries 1 (Data/A.txt) and 3 (data\\a.txt) share name hash " +
                  Hex32(NameHash("data/a.txt")) +
                  ": the names differ only in letter case or separators, which a lookup by name cannot"
                  " tell apart\n"
                  "warning: entries 4 (x) and 5 (x) share name hash " +
                  Hex32(NameHash("x")) +
                  ": the same name is stored more than once, and a lookup by name finds only one of"
                  " them\n"
                  "verified a.pak with key file a.pak.zlk: 7 entries, all intact; 3 name hashes are"
                  " shared\n");

    const std::string document = Inspect({"verify", "a.pak", "--json"}).out;
    const nlohmann::ordered_json ordered = nlohmann::ordered_json::parse(document);
    std::vector<std::string> keys;
    for (const auto& item : ordered["sharedNameHashes"][0].items())
        keys.push_back(item.key());
    EXPECT_EQ(keys, (std::vector<std::string>{"nameHash", "kind", "entries"}));
    const json report = json::parse(document);
    ASSERT_EQ(report["sharedNameHashes"].size(), 3u);
    EXPECT_EQ(report["sharedNameHashes"][0]["kind"], "different-names");
    EXPECT_EQ(report["sharedNameHashes"][0]["nameHash"], "4ddb0c25");
    EXPECT_EQ(report["sharedNameHashes"][0]["entries"][1]["name"], "buckeroo");
    EXPECT_EQ(report["sharedNameHashes"][1]["kind"], "case-or-separators");
    EXPECT_EQ(report["sharedNameHashes"][2]["kind"], "same-name");

    // Without the names only the sharing is known (and without the key share
    // nothing decodes).
    run = Inspect({"verify", "a.pak", "--no-key", "--json"});
    EXPECT_EQ(run.status, 1);
    const json unnamed = json::parse(run.out);
    ASSERT_EQ(unnamed["sharedNameHashes"].size(), 3u);
    EXPECT_EQ(unnamed["sharedNameHashes"][0]["kind"], "names-unknown");
    EXPECT_TRUE(unnamed["sharedNameHashes"][0]["entries"][0]["name"].is_null());
}

TEST_F(NameHashReportTest, ANameHashThatDoesNotFitItsNameIsABadEntryAndIsNotExtracted)
{
    Craft("a.pak", {{"one.txt", "1"}, {"two.txt", "2"}}, true);
    std::string bytes = dir_.Read("a.pak");
    const std::size_t secondNameHash = ArchiveHeader::Size + FileEntry::Size + 1 + 16;
    EncodeFixed32(reinterpret_cast<std::uint8_t*>(&bytes[secondNameHash]), 0x12345678);
    dir_.Write("a.pak", bytes);
    const ToolRun run = Inspect({"verify", "a.pak"});
    EXPECT_EQ(run.status, 1);
    const std::string fault = "entry 1 (two.txt): name hash 12345678 does not match its name, whose hash is " +
                              Hex32(NameHash("two.txt"));
    EXPECT_EQ(run.out, fault + "\nverified a.pak with key file a.pak.zlk: 2 entries, 1 bad\n");

    // A key file can name any file for an entry (evil.sh for readme.txt, say);
    // extraction writes only under the name the entry was stored with.
    const ToolRun extract = Inspect({"extract", "a.pak", "-o", "out"});
    EXPECT_EQ(extract.status, 1);
    EXPECT_EQ(extract.err, "entry 1 (two.txt): not written: name hash 12345678 does not match its name, whose"
                           " hash is " +
                               Hex32(NameHash("two.txt")) + "\n");
    EXPECT_EQ(Tree("out"), (std::map<std::string, std::string>{{"one.txt", "1"}}));
}

TEST_F(NameHashReportTest, NamesThatAreNotTextStayReadable)
{
    const std::string replacement = "\xef\xbf\xbd";
    const std::string escapes = "q\"b\\s/\n\r\t\x01\x1f\x7f end";
    const struct {
        std::string name;
        std::string read;  // the name in the JSON document; "nameHex" when it differs
    } cases[] = {
        {"caf\xe9.txt", "caf" + replacement + ".txt"},
        {"line\nbreak\x1b[31m", "line\nbreak\x1b[31m"},
        {escapes, escapes},
        {"\xc0\xaf", replacement + replacement},
        {"\xe2\x82", replacement + replacement},
        {"gr\xc3\xbc\xc3\x9f \xe2\x82\xac", "gr\xc3\xbc\xc3\x9f \xe2\x82\xac"},
    };
    testing::InspectTest::Entries entries;
    for (const auto& c : cases)
        entries.push_back({c.name, "content of " + c.name});
    Craft("a.pak", entries, true);

    const ToolRun list = Inspect({"list", "a.pak"});
    EXPECT_EQ(list.status, 0);
    EXPECT_NE(list.out.find("  caf\xe9.txt\n"), std::string::npos);
    EXPECT_NE(list.out.find("  line\\x0abreak\\x1b[31m\n"), std::string::npos) << list.out;

    for (const std::string command : {"list", "verify"}) {
        const ToolRun run = Inspect({command, "a.pak", "--json"});
        ASSERT_TRUE(json::accept(run.out)) << run.out;  // valid UTF-8 and valid JSON
        const json document = json::parse(run.out);
        if (command == "verify") {
            EXPECT_EQ(document["ok"], true);
            continue;
        }
        ASSERT_EQ(document["entries"].size(), std::size(cases));
        for (std::size_t i = 0; i < std::size(cases); ++i) {
            const json& entry = document["entries"][i];
            EXPECT_EQ(entry["name"], cases[i].read) << HexBytes(cases[i].name);
            if (cases[i].read == cases[i].name)
                EXPECT_FALSE(entry.contains("nameHex")) << HexBytes(cases[i].name);
            else
                EXPECT_EQ(entry["nameHex"], HexBytes(cases[i].name));
        }
    }
}

TEST(PrintableTest, ControlCharactersAreShownAsBytes)
{
    const struct {
        std::string name;
        std::string shown;
    } cases[] = {
        {"plain/name.txt", "plain/name.txt"},
        {"line\nbreak\t\x7f", "line\\x0abreak\\x09\\x7f"},
        {"csi\xc2\x9b" "31m", "csi\\xc2\\x9b31m"},            // U+009B as UTF-8
        {"nel\xc2\x85", "nel\\xc2\\x85"},                      // U+0085
        {"raw\x9b" "31m", "raw\\x9b31m"},                         // the same as one Latin-1 byte
        {"nbsp\xc2\xa0 caf\xc3\xa9 \xe2\x82\xac", "nbsp\xc2\xa0 caf\xc3\xa9 \xe2\x82\xac"},  // text stays
        {"caf\xe9 \xff", "caf\xe9 \xff"},                          // not UTF-8, not controls
        {"cut\xc2", "cut\xc2"},
        // Bidirectional controls, which would show the name in another order.
        {"docs/\xe2\x80\xae" "fdp.exe", "docs/\\xe2\\x80\\xaefdp.exe"},  // U+202E
        {"\xe2\x80\xaa\xe2\x80\xad\xe2\x81\xa6\xe2\x81\xa9",  // LRE, LRO, LRI, PDI
         "\\xe2\\x80\\xaa\\xe2\\x80\\xad\\xe2\\x81\\xa6\\xe2\\x81\\xa9"},
        {"\xe2\x80\x8e\xe2\x80\x8f\xd8\x9c", "\\xe2\\x80\\x8e\\xe2\\x80\\x8f\\xd8\\x9c"},  // LRM, RLM, ALM
        {"\xe2\x80\xa9\xe2\x80\xaf\xe2\x81\xa5\xe2\x81\xaa\xd8\x9b",  // their neighbours stay
         "\xe2\x80\xa9\xe2\x80\xaf\xe2\x81\xa5\xe2\x81\xaa\xd8\x9b"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(InspectedArchive::Printable(c.name), c.shown) << HexBytes(c.name);
}

}  // namespace
}  // namespace zelkor
