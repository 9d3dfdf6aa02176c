// zelkor-inspect on archives packed by the archiver: every file comes back out,
// the key file choice and damage are reported, and the output formats hold.
#include <fstream>
#include <set>
#include <sstream>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "archive/archive_format.h"
#include "reader/archive_reader.h"
#include "archive/entry_codec.h"
#include "inspect/inspected_archive.h"
#include "inspect_fixture.h"
#include "support/test_data.h"
#include "support/archive_contents.h"
#include "support/system_tests.h"

namespace zelkor {
namespace {

using nlohmann::json;
using testing::Count;
using Keys = std::vector<std::string>;

// The members of a JSON object in the order the document gives them.
Keys KeysOf(const std::string& document, const std::vector<std::string>& path = {})
{
    nlohmann::ordered_json value = nlohmann::ordered_json::parse(document);
    for (const std::string& step : path)
        value = step.empty() ? value.at(0) : value.at(step);
    Keys keys;
    for (const auto& item : value.items())
        keys.push_back(item.key());
    return keys;
}
using testing::ToolRun;

class InspectRoundTripTest : public testing::InspectTest {
protected:
    void SetUp() override { WriteSources(); }

    // Flips one bit in the middle of entry `index`'s stored bytes.
    void DamageEntry(const std::string& archive, std::size_t index)
    {
        const std::string path = (dir_ / archive).string();
        const std::uint64_t at = [&] {
            const ArchiveReader reader(path, nullptr);
            const FileEntry fields = testing::AllEntries(reader).at(index).fields;
            return fields.dataOffset + fields.storedSize / 2;
        }();
        std::string bytes = dir_.Read(archive);
        bytes.at(at) ^= 0x10;
        dir_.Write(archive, bytes);
    }
};

TEST_F(InspectRoundTripTest, EveryFileComesBackWithItsKeyFile)
{
    Pack("a.pak", true);

    const ToolRun list = Inspect({"list", "a.pak"});
    EXPECT_EQ(list.status, 0) << list.err;
    EXPECT_EQ(list.err, "");
    for (const auto& [name, content] : sources_)
        EXPECT_EQ(Count(list.out, "  " + name + "\n"), 1u) << name << "\n" << list.out;
    EXPECT_NE(list.out.find("a.pak, with key file a.pak.zlk:"), std::string::npos) << list.out;
    std::size_t raw = 0;
    for (const auto& [name, content] : sources_)
        raw += content.size();
    EXPECT_NE(list.out.find("\n4 entries, " + std::to_string(raw) + " bytes raw, "), std::string::npos)
        << list.out;

    const ToolRun verify = Inspect({"verify", "a.pak"});
    EXPECT_EQ(verify.status, 0) << verify.out;
    EXPECT_EQ(verify.out, "verified a.pak with key file a.pak.zlk: 4 entries, all intact\n");

    const ToolRun extract = Inspect({"extract", "a.pak", "-o", "out"});
    EXPECT_EQ(extract.status, 0) << extract.err;
    EXPECT_EQ(extract.err, "");
    EXPECT_EQ(extract.out, "extracted 4 of 4 entries from a.pak with key file a.pak.zlk to out\n");
    EXPECT_EQ(Tree("out"), sources_);
}

TEST_F(InspectRoundTripTest, NamesWindowsWouldMisreadAreRefusedThereAndTheRestExtracted)
{
    // Each row: an archived name, and whether Windows' rules refuse it (on
    // POSIX systems every one is written, the two spellings of one name in case
    // included).
    const struct {
        std::string name;
        bool refusedOnWindows;
    } cases[] = {
        {"CON", true},
        {"docs/nul.txt", true},
        {"aux/readme.txt", true},
        {"Com3.log", true},
        {"readme.txt:hidden", true},
        {"C:relative.txt", false},  // a drive prefix: refused everywhere
        {"trailing.", true},
        {"space /inside.txt", true},
        {"Readme.TXT", false},
        {"README.txt", true},  // the same file as the row above on NTFS
        {"\xC3\xA9t\xC3\xA9/Gr\xC3\xB6\xC3\x9F" "e.txt", false},
        {"console.txt", false},
        // The same file as the row of été/Größe.txt on NTFS, whose case rule
        // takes in every letter; ß has no one-letter upper case, so STRASSE
        // is another name.
        {"\xC3\x89T\xC3\x89/gr\xC3\xB6\xC3\x9F" "E.TXT", true},
        {"stra\xC3\x9F" "e.txt", false},
        {"STRASSE.txt", false},
    };
    Entries entries;
    for (const auto& c : cases)
        entries.push_back({c.name, "content of " + c.name});
    Craft("w.pak", entries, true);
    const ToolRun extract = Inspect({"extract", "w.pak", "-o", "out"});
    EXPECT_EQ(extract.status, 1);
    std::map<std::string, std::string> written;
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        const std::string& name = cases[i].name;
        const bool refused = name == "C:relative.txt" || (testing::OnWindows && cases[i].refusedOnWindows);
        const std::string warning = "entry " + std::to_string(i) + " (" + name + "): not written: ";
        EXPECT_EQ(Count(extract.err, warning), refused ? 1u : 0u) << name << "\n" << extract.err;
        if (!refused)
            written[name] = "content of " + name;
    }
    EXPECT_EQ(Tree("out"), written);
    if (testing::OnWindows) {
        EXPECT_NE(extract.err.find("entry 9 (README.txt): not written: entry 8 is at out/Readme.TXT, a name that "
                                   "differs only in case"),
                  std::string::npos)
            << extract.err;
        EXPECT_NE(extract.err.find("entry 12 (\xC3\x89T\xC3\x89/gr\xC3\xB6\xC3\x9F" "E.TXT): not written: entry 10 is "
                                   "at out/\xC3\xA9t\xC3\xA9/Gr\xC3\xB6\xC3\x9F" "e.txt, a name that differs only in case"),
                  std::string::npos)
            << extract.err;
    }
}

TEST_F(InspectRoundTripTest, WithoutNamesEntriesComeBackUnderTheirNameHash)
{
    Pack("a.pak", false);
    std::map<std::string, std::string> expected;
    for (const auto& [name, content] : sources_)
        expected[Hex32(NameHash(name)) + ".bin"] = content;

    const ToolRun list = Inspect({"list", "a.pak"});
    EXPECT_EQ(list.status, 0);
    for (const auto& [file, content] : expected)
        EXPECT_NE(list.out.find("  " + file.substr(0, 8) + "\n"), std::string::npos) << file;
    EXPECT_EQ(Inspect({"verify", "a.pak"}).status, 0);

    // The default directory is the working directory.
    std::filesystem::create_directory(dir_ / "out");
    EXPECT_EQ(testing::RunInspect({"extract", "../a.pak"}, dir_ / "out").status, 0);
    EXPECT_EQ(Tree("out"), expected);
}

TEST_F(InspectRoundTripTest, AMissingOrWrongKeyFileFailsWithAHint)
{
    Pack("a.pak", true);
    std::filesystem::rename(dir_ / "a.pak.zlk", dir_ / "moved.zlk");
    ToolRun run = Inspect({"verify", "a.pak"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(Count("\n" + run.out, "\nentry "), 3u) << run.out;  // the empty entry decodes with any key
    EXPECT_NE(run.out.find("\nhint: every entry failed to decode; the archive was likely built with a key"
                           " file"),
              std::string::npos)
        << run.out;
    EXPECT_EQ(Inspect({"verify", "a.pak", "--key", "moved.zlk"}).status, 0);

    // The key file of another build of the same files fits the structure but not
    // the key.
    Pack("b.pak", true);
    run = Inspect({"verify", "a.pak", "--key", "b.pak.zlk"});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.out.find("hint: every entry failed to decode; the key file b.pak.zlk is likely not the"
                           " one"),
              std::string::npos)
        << run.out;
    run = Inspect({"extract", "a.pak", "--key", "b.pak.zlk", "-o", "out"});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("hint: every entry failed to decode"), std::string::npos) << run.err;
    EXPECT_EQ(Tree("out"), (std::map<std::string, std::string>{{"levels/empty.txt", ""}}));

    // --no-key passes over the default key file.
    run = Inspect({"verify", "b.pak", "--no-key"});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.out.find("without a key file"), std::string::npos) << run.out;

    // One damaged entry of one is as likely damage: no hint.
    Craft("one.pak", {{"only.txt", "a text of its own"}}, true);
    DamageEntry("one.pak", 0);
    run = Inspect({"verify", "one.pak"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "entry 0 (only.txt): content hash does not match\n"
                       "verified one.pak with key file one.pak.zlk: 1 entry, 1 bad\n");
    // One entry that decodes without the key file given: the hint is certain.
    Craft("plain.pak", {{"only.txt", "a text of its own"}}, false);
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"verify", "plain.pak", "--key", "one.pak.zlk"},
             {"extract", "plain.pak", "--key", "one.pak.zlk", "-o", "out"}}) {
        run = Inspect(args);
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(Count(run.out + run.err, "\nhint: every entry failed to decode with the key file one.pak.zlk,"
                                           " and decodes without it: the archive was built without a key"
                                           " file; use --no-key\n"),
                  1u)
            << run.out << run.err;
    }
}

TEST_F(InspectRoundTripTest, DamageIsReportedForTheDamagedEntryOnly)
{
    Pack("a.pak", true);
    DamageEntry("a.pak", 3);  // the incompressible texture, stored raw
    ToolRun run = Inspect({"verify", "a.pak"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out,
              "entry 3 (textures/Logo.png): content hash does not match\n"
              "verified a.pak with key file a.pak.zlk: 4 entries, 1 bad\n");

    run = Inspect({"extract", "a.pak", "-o", "out"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "entry 3 (textures/Logo.png): not written: content hash does not match\n");
    auto expected = sources_;
    expected.erase("textures/Logo.png");
    EXPECT_EQ(Tree("out"), expected);

    DamageEntry("a.pak", 0);  // the level, compressed
    const std::string document = Inspect({"verify", "a.pak", "--json"}).out;
    EXPECT_EQ(KeysOf(document),
              (Keys{"archive", "keyFile", "ok", "entries", "intact", "bad", "sharedNameHashes", "hint"}));
    EXPECT_EQ(KeysOf(document, {"bad", ""}), (Keys{"index", "name", "nameHash", "faults"}));
    const json report = json::parse(document);
    EXPECT_EQ(report["ok"], false);
    EXPECT_EQ(report["intact"], 2);
    ASSERT_EQ(report["bad"].size(), 2u);
    EXPECT_EQ(report["bad"][0]["index"], 0);
    EXPECT_EQ(report["bad"][0]["name"], "levels/deep/er/level1.txt");
    EXPECT_EQ(report["bad"][1]["index"], 3);
    EXPECT_TRUE(report["hint"].is_null());
}

TEST_F(InspectRoundTripTest, VerifyAndExtractAgreeOnEveryEntry)
{
    // Both walk the same selection and tally the same decodes: the entries verify
    // finds bad are those extract does not write, and the hints are the same.
    Pack("a.pak", true);
    Pack("b.pak", true);
    DamageEntry("a.pak", 3);
    Craft("one.pak", {{"only.txt", "a text of its own"}}, true);
    Craft("plain.pak", {{"only.txt", "a text of its own"}}, false);
    using Indexes = std::set<std::uint64_t>;
    const struct {
        std::vector<std::string> args;
        std::uint64_t selected;
        Indexes bad;
        std::string hint;  // its start; empty for none
    } cases[] = {
        {{"a.pak"}, 4, {3}, ""},
        {{"a.pak", "*.txt"}, 3, {}, ""},
        {{"a.pak", "--key", "b.pak.zlk"}, 4, {0, 2, 3}, "every entry failed to decode; the key file b.pak.zlk"},
        {{"a.pak", "--no-key"}, 4, {0, 2, 3}, "every entry failed to decode; the archive was likely built"},
        // One selected entry that fails with either choice: as likely damage.
        {{"b.pak", "--key", "a.pak.zlk", "*.png"}, 1, {3}, ""},
        {{"plain.pak", "--key", "one.pak.zlk"}, 1, {0}, "every entry failed to decode with the key file"},
    };
    int run = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.args));
        std::vector<std::string> args{"verify"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        args.push_back("--json");
        const ToolRun verify = Inspect(args);
        EXPECT_EQ(verify.status, c.bad.empty() ? 0 : 1);
        const json report = json::parse(verify.out);
        EXPECT_EQ(report["entries"], c.selected);
        Indexes bad;
        for (const json& entry : report["bad"])
            bad.insert(entry["index"].get<std::uint64_t>());
        EXPECT_EQ(bad, c.bad);
        EXPECT_EQ(report["hint"].is_null() ? "" : report["hint"].get<std::string>().substr(0, c.hint.size()),
                  c.hint);

        args.front() = "extract";
        args.back() = "-o";
        args.push_back("out" + std::to_string(run++));
        const ToolRun extract = Inspect(args);
        EXPECT_EQ(extract.status, c.bad.empty() ? 0 : 1);
        EXPECT_NE(extract.out.find(" of " + std::to_string(c.selected) + " "), std::string::npos) << extract.out;
        Indexes refused;
        std::istringstream lines(extract.err);
        std::string hint;
        for (std::string line; std::getline(lines, line);) {
            if (line.rfind("entry ", 0) == 0 && line.find(": not written: ") != std::string::npos)
                refused.insert(std::stoull(line.substr(6)));
            else if (line.rfind("hint: ", 0) == 0)
                hint = line.substr(6);
            else
                ADD_FAILURE() << line;
        }
        EXPECT_EQ(refused, c.bad);
        EXPECT_EQ(hint, report["hint"].is_null() ? "" : report["hint"].get<std::string>());
    }
}

TEST_F(InspectRoundTripTest, MalformedFilesEndTheRunWithStatusTwo)
{
    Pack("a.pak", true);
    const std::string archive = dir_.Read("a.pak");
    const std::string keyFile = dir_.Read("a.pak.zlk");
    dir_.Write("cut.pak", archive.substr(0, archive.size() - 3));
    dir_.Write("cut.pak.zlk", keyFile);
    dir_.Write("junk.pak", std::string(100, 'j'));
    dir_.Write("cutkey.pak", archive);
    dir_.Write("cutkey.pak.zlk", keyFile.substr(0, keyFile.size() - 1));
    // The key file of an archive of other files.
    Craft("other.pak", {{"readme.txt", "another text"}}, true);
    dir_.Write("foreign.pak", archive);
    dir_.Write("foreign.pak.zlk", dir_.Read("other.pak.zlk"));
    // Planted beside an archive built without one: a key file of zero shares
    // would decode it and name its entries as the planter likes.
    Craft("planted.pak", {{"readme.txt", "the text"}}, false);
    Craft("twin.pak", {{"evil.sh", "the text"}}, true);
    dir_.Write("planted.pak.zlk", std::string(KeyFileHeader::Size, '\0') +
                                      dir_.Read("twin.pak.zlk").substr(KeyFileHeader::Size));

    const struct {
        std::string archive;
        std::string message;
    } cases[] = {
        {"cut.pak", "zelkor-inspect: cut.pak: stored bytes of the FileEntry at offset "},
        {"junk.pak", "zelkor-inspect: junk.pak: not an archive (bad magic number)\n"},
        {"cutkey.pak", "zelkor-inspect: cutkey.pak.zlk: truncated NameRecord at offset "},
        {"missing.pak", "zelkor-inspect: Cannot open missing.pak!\n"},
        {"foreign.pak", "zelkor-inspect: foreign.pak.zlk is not the key file of foreign.pak (NameRecord at"
                        " offset 64 has content hash "},
        {"planted.pak", "zelkor-inspect: planted.pak.zlk is not the key file of planted.pak (its key and IV"
                        " shares are zero and leave the archive's own key as it is, which no archive's key file"
                        " does); read the archive alone with --no-key if it was built without a key file, or"
                        " name its own key file with --key FILE\n"},
    };
    for (const auto& c : cases) {
        for (const std::string command : {"list", "verify", "extract"}) {
            std::vector<std::string> args{command, c.archive};
            if (command == "extract")
                args.insert(args.end(), {"-o", "out"});
            const ToolRun run = Inspect(args);
            EXPECT_EQ(run.status, 2) << command << " " << c.archive;
            EXPECT_EQ(run.out, "") << command << " " << c.archive;
            EXPECT_EQ(run.err.rfind(c.message, 0), 0u) << command << " " << c.archive << ": " << run.err;
            // Only a key file that does not decode the archive is blamed.
            const bool foreign = c.archive == "foreign.pak" || c.archive == "planted.pak";
            EXPECT_EQ(Count(run.err, "--no-key"), foreign ? 1u : 0u) << run.err;
        }
    }
    EXPECT_EQ(Tree("out"), (std::map<std::string, std::string>{}));
    // The planted file is passed over only when asked.
    EXPECT_EQ(Inspect({"diff", "planted.pak", "twin.pak"}).status, 2);
    EXPECT_EQ(Inspect({"extract", "planted.pak", "--no-key", "-o", "out"}).status, 0);
    EXPECT_EQ(Tree("out"), (std::map<std::string, std::string>{{Hex32(NameHash("readme.txt")) + ".bin", "the text"}}));

    const ToolRun run = Inspect({"verify", "--json", "cut.pak"});
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(KeysOf(run.out), (Keys{"archive", "error"}));
    const json report = json::parse(run.out);
    EXPECT_NE(report["error"].get<std::string>().find("past the end"), std::string::npos) << run.out;
}

TEST_F(InspectRoundTripTest, ListJsonDescribesEveryEntry)
{
    Pack("a.pak", true);
    const ToolRun run = Inspect({"list", "a.pak", "--json"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(KeysOf(run.out), (Keys{"archive", "keyFile", "entries", "totals"}));
    EXPECT_EQ(KeysOf(run.out, {"entries", ""}),
              (Keys{"index", "name", "nameHash", "rawSize", "storedSize", "method", "contentHash"}));
    EXPECT_EQ(KeysOf(run.out, {"totals"}),
              (Keys{"entries", "rawBytes", "storedBytes", "ratio", "largeRawEntries", "largeRawBytes"}));
    const json list = json::parse(run.out);
    EXPECT_EQ(list["archive"], "a.pak");
    EXPECT_EQ(list["keyFile"], "a.pak.zlk");
    const ArchiveReader reader((dir_ / "a.pak").string(), nullptr);
    const auto entries = testing::AllEntries(reader);
    ASSERT_EQ(list["entries"].size(), sources_.size());
    std::uint64_t raw = 0;
    std::uint64_t stored = 0;
    auto source = sources_.begin();
    for (std::size_t i = 0; i < sources_.size(); ++i, ++source) {
        const json& entry = list["entries"][i];
        const FileEntry& fields = entries[i].fields;
        EXPECT_EQ(entry, (json{{"index", i},
                               {"name", source->first},
                               {"nameHash", Hex32(NameHash(source->first))},
                               {"rawSize", source->second.size()},
                               {"storedSize", fields.storedSize},
                               {"method", fields.storedSize < fields.rawSize ? "lz4" : "raw"},
                               {"contentHash", Hex32(fields.contentHash)}}));
        raw += fields.rawSize;
        stored += fields.storedSize;
    }
    EXPECT_EQ(list["totals"]["entries"], sources_.size());
    EXPECT_EQ(list["totals"]["rawBytes"], raw);
    EXPECT_EQ(list["totals"]["storedBytes"], stored);
    EXPECT_DOUBLE_EQ(list["totals"]["ratio"].get<double>(), static_cast<double>(stored) / raw);
    EXPECT_EQ(list["totals"]["largeRawEntries"], 0);

    // Entries over 64 KiB that compression could not shrink are counted, as a
    // hint for Store; smaller ones cost too little to matter.
    sources_["big.bin"] = testing::RandomBytes(100000, 3);
    dir_.Write("src/big.bin", sources_["big.bin"]);
    Pack("b.pak", true);
    const json big = json::parse(Inspect({"list", "b.pak", "--json"}).out);
    EXPECT_EQ(big["totals"]["largeRawEntries"], 1);
    EXPECT_EQ(big["totals"]["largeRawBytes"], 100000);
    const std::string text = Inspect({"list", "b.pak"}).out;
    EXPECT_NE(text.find("\n100000 bytes in 1 entry of more than 64 KiB stored raw: compressing them gained nothing"
                        " (a Store pattern skips the attempt)\n"),
              std::string::npos)
        << text;
}

TEST_F(InspectRoundTripTest, PatternsSelectEntriesByName)
{
    Pack("a.pak", true);
    using Names = std::vector<std::string>;
    const struct {
        std::vector<std::string> patterns;
        Names selected;  // in archive order
        std::string unmatched;
    } cases[] = {
        {{"*.txt"}, {"levels/deep/er/level1.txt", "levels/empty.txt", "readme.txt"}, ""},
        // Letter case and separators count as in the name hash.
        {{"TEXTURES\\logo.PNG"}, {"textures/Logo.png"}, ""},
        {{"levels/*"}, {"levels/deep/er/level1.txt", "levels/empty.txt"}, ""},
        {{"?eadme.txt", "*.png", "readme*"}, {"readme.txt", "textures/Logo.png"}, ""},
        {{"levels/?.txt"}, {}, "levels/?.txt"},
        {{"*.psd", "*/empty.txt"}, {"levels/empty.txt"}, "*.psd"},
    };
    int run = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.patterns));
        const auto inspect = [&](std::vector<std::string> args) {
            args.insert(args.end(), c.patterns.begin(), c.patterns.end());
            return Inspect(args);
        };
        const int status = c.unmatched.empty() ? 0 : 1;
        const std::string complaint =
            c.unmatched.empty() ? "" : "zelkor-inspect: no entry matches " + c.unmatched + "\n";
        const std::string counted = std::to_string(c.selected.size()) + " matching " +
                                    (c.selected.size() == 1 ? "entry" : "entries");

        ToolRun list = inspect({"list", "a.pak", "--json"});
        EXPECT_EQ(list.status, status);
        EXPECT_EQ(list.err, complaint);
        const json document = json::parse(list.out);
        Names listed;
        for (const json& entry : document["entries"])
            listed.push_back(entry["name"]);
        EXPECT_EQ(listed, c.selected);
        list = inspect({"list", "a.pak"});
        EXPECT_NE(list.out.find("\n" + counted + ", "), std::string::npos) << list.out;

        const ToolRun verify = inspect({"verify", "a.pak"});
        EXPECT_EQ(verify.status, status);
        EXPECT_NE(verify.out.find(": " + counted + ", "), std::string::npos) << verify.out;

        const std::string out = "out" + std::to_string(run++);
        const ToolRun extract = inspect({"extract", "a.pak", "-o", out});
        EXPECT_EQ(extract.status, status);
        EXPECT_EQ(extract.err, complaint);
        std::map<std::string, std::string> expected;
        for (const std::string& name : c.selected)
            expected[name] = sources_.at(name);
        EXPECT_EQ(Tree(out), expected);
    }

    // Without a key file there are no names to match.
    Pack("b.pak", false);
    const ToolRun run2 = Inspect({"list", "b.pak", "*.txt"});
    EXPECT_EQ(run2.status, 2);
    EXPECT_EQ(run2.err, "zelkor-inspect: patterns select entries by name, and b.pak is read without a key file,"
                        " which holds the names: name it with --key FILE\n");
}

TEST_F(InspectRoundTripTest, DiffTellsWhatChangedBetweenTwoBuilds)
{
    Craft("old.pak", {{"a", "1"}, {"b", "2"}, {"c", "3"}, {"d", "4"}, {"dup", "x"}, {"dup", "y"}}, true);
    Craft("new.pak", {{"b", "2"}, {"a", "1"}, {"c", "3 longer"}, {"e", "5"}, {"dup", "x"}, {"dup", "z"}}, true);
    const auto hash = [](const std::string& content) {
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(content.data());
        return Hex32(EntryCodec::ContentHash({bytes, content.size()}));
    };
    ToolRun run = Inspect({"diff", "old.pak", "new.pak"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "");
    // b moved before a; the second dup is the second dup; d went, e came.
    EXPECT_EQ(run.out,
              "old.pak with key file old.pak.zlk -> new.pak with key file new.pak.zlk, entries matched by name:\n"
              "removed  d (entry 3): 1 byte, 1 stored\n"
              "moved    b (entry 1 -> 0)\n"
              "changed  c (entry 2): 1 -> 8 bytes, content " + hash("3") + " -> " + hash("3 longer") +
                  ", 1 -> 8 stored\n"
                  "added    e (entry 3): 1 byte, 1 stored\n"
                  "changed  dup (entry 5): 1 byte, content " + hash("y") + " -> " + hash("z") +
                  ", 1 stored\n"
                  "note: the archives are encrypted with different key material, so every stored byte"
                  " differs, whatever the contents\n"
                  "1 added, 1 removed, 2 changed, 1 moved, 2 unchanged; 10 stored bytes in the added and"
                  " changed entries, the most a binary delta needs to carry\n");

    run = Inspect({"diff", "old.pak", "new.pak", "--json"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(KeysOf(run.out),
              (Keys{"old", "new", "matchedBy", "sameKeyMaterial", "same", "differences", "totals"}));
    EXPECT_EQ(KeysOf(run.out, {"differences", ""}), (Keys{"change", "moved", "old", "new"}));
    const json diff = json::parse(run.out);
    EXPECT_EQ(diff["old"], (json{{"archive", "old.pak"}, {"keyFile", "old.pak.zlk"}}));
    EXPECT_EQ(diff["matchedBy"], "name");
    EXPECT_EQ(diff["same"], false);
    EXPECT_EQ(diff["sameKeyMaterial"], false);
    ASSERT_EQ(diff["differences"].size(), 5u);
    EXPECT_EQ(diff["differences"][0]["change"], "removed");
    EXPECT_TRUE(diff["differences"][0]["new"].is_null());
    EXPECT_EQ(diff["differences"][2]["old"], (json{{"index", 2},
                                                  {"name", "c"},
                                                  {"nameHash", Hex32(NameHash("c"))},
                                                  {"rawSize", 1},
                                                  {"storedSize", 1},
                                                  {"contentHash", hash("3")}}));
    EXPECT_EQ(diff["totals"], (json{{"added", 1}, {"removed", 1}, {"changed", 2}, {"moved", 1}, {"unchanged", 2},
                                    {"deltaBytes", 10}}));

    // Without a key file on one side, entries are matched by name hash and named
    // from the side that has the names.
    run = Inspect({"diff", "old.pak", "new.pak", "--no-key"});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.out.find("old.pak without a key file -> new.pak with key file new.pak.zlk, entries matched by"
                           " name hash:\nremoved  " + Hex32(NameHash("d")) + " (entry 3)"),
              std::string::npos)
        << run.out;
    EXPECT_NE(run.out.find("\nchanged  c (entry 2)"), std::string::npos) << run.out;

    // An archive against itself, or a copy: the same.
    dir_.Write("copy.pak", dir_.Read("old.pak"));
    run = Inspect({"diff", "old.pak", "copy.pak", "--new-key", "old.pak.zlk"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "old.pak with key file old.pak.zlk -> copy.pak with key file old.pak.zlk, entries matched"
                       " by name:\nthe same 6 entries in the same order\n");

    // Either side unreadable.
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"diff", "old.pak", "missing.pak"}, {"diff", "missing.pak", "old.pak", "--json"},
             {"diff", "old.pak", "new.pak", "--new-key", "old.pak.zlk"}}) {
        run = Inspect(args);
        EXPECT_EQ(run.status, 2) << ::testing::PrintToString(args);
        EXPECT_EQ(run.err.rfind("zelkor-inspect: ", 0), 0u) << run.err;
    }
    EXPECT_EQ(KeysOf(Inspect({"diff", "missing.pak", "old.pak", "--json"}).out), (Keys{"old", "new", "error"}));
}

TEST_F(InspectRoundTripTest, LargeArchivesShowAStatusLineOnATerminal)
{
    // Over 64 MiB: verify and extract draw a status line on a terminal, and
    // messages appear above it; list and smaller archives never do.
    ZELKOR_POSIX_ONLY("a pseudo-terminal");
    Craft("big.pak", {{"a", std::string(65 << 20, 'x')}, {"../b", "refused"}}, true);
    Craft("small.pak", {{"a", "x"}}, true);
    const std::string verify = testing::RunOnTerminal(ZELKOR_INSPECT_BINARY, {"verify", "big.pak"}, dir_.path());
    EXPECT_NE(verify.find(" of 2 entries, "), std::string::npos) << verify;
    EXPECT_EQ(verify.substr(verify.size() - 4), "\r\033[K");
    const std::string extract =
        testing::RunOnTerminal(ZELKOR_INSPECT_BINARY, {"extract", "big.pak", "-o", "out"}, dir_.path());
    EXPECT_NE(extract.find("\r\033[Kentry 1 (../b): not written: "), std::string::npos) << extract;
    for (const std::vector<std::string>& quiet : {std::vector<std::string>{"list", "big.pak"},
                                                   std::vector<std::string>{"verify", "small.pak"}})
        EXPECT_EQ(testing::RunOnTerminal(ZELKOR_INSPECT_BINARY, quiet, dir_.path()), "") << quiet[0];
}

TEST_F(InspectRoundTripTest, MemoryDoesNotGrowWithTheEntryCount)
{
    // Held one by one, 300,000 entries would take 19 MiB or more (64 bytes each).
    constexpr std::size_t Count = 300000;
    CraftEmptyEntries("small.pak", 10);
    CraftEmptyEntries("large.pak", Count);
    for (const std::string command : {"list", "verify"}) {
        const ToolRun small = Inspect({command, "small.pak"});
        const ToolRun large = Inspect({command, "large.pak"});
        EXPECT_EQ(small.status, 0) << small.out;
        EXPECT_EQ(large.status, 0) << large.err;
        if (command == "list")
            EXPECT_NE(large.out.find("\n300000 entries, 0 bytes raw, 0 bytes stored\n"), std::string::npos);
        else
            EXPECT_EQ(large.out, "verified large.pak with key file large.pak.zlk: 300000 entries, all intact\n");
#ifndef ZELKOR_SANITIZED
        // Sanitizers keep freed memory in quarantine, so only plain builds tell.
        // verify keeps 4 bytes per entry while it looks for shared name hashes.
        EXPECT_LT(large.peakResidentKiB - small.peakResidentKiB, 4 * 1024) << command;
#endif
    }
}

TEST_F(InspectRoundTripTest, CommandLine)
{
    Pack("a.pak", true);
    const std::string unknown = "zelkor-inspect: unknown command unpack; the commands are list, verify, extract,"
                                " diff, cache, check and report\nRun with --help for more information.\n";
    // A bad command line is the tools' failure status, whatever the option
    // parser's own code for it; help and the version are a success.
    const struct {
        std::vector<std::string> args;
        int status;
        std::string out;  // found in standard output
        std::string err;  // the whole of standard error; "?" any message
    } cases[] = {
        {{"--help"}, 0, "\n  extract ", ""},
        {{"extract", "--help"}, 0, "--force", ""},
        {{"--version"}, 0, "zelkor-inspect 2.5.0\n", ""},
        {{"list", "a.pak"}, 0, "a.pak, with key file a.pak.zlk:", ""},
        // No command, an unknown one.
        {{}, 2, "", "A subcommand is required\nRun with --help for more information.\n"},
        {{"--bogus"}, 2, "", "?"},
        {{"unpack", "a.pak"}, 2, "", unknown},
        {{"--version", "unpack"}, 2, "", unknown},
        // A missing argument.
        {{"list"}, 2, "", "ARCHIVE is required\nRun with --help for more information.\n"},
        {{"diff", "a.pak"}, 2, "", "?"},
        {{"extract", "a.pak", "-o"}, 2, "", "?"},
        // An unexpected argument.
        {{"diff", "a.pak", "a.pak", "b.pak"}, 2, "",
         "The following argument was not expected: b.pak\nRun with --help for more information.\n"},
        {{"cache", "a", "b"}, 2, "", "?"},
        // A bad option, or options that exclude each other.
        {{"list", "a.pak", "--force"}, 2, "",
         "The following argument was not expected: --force\nRun with --help for more information.\n"},
        {{"list", "a.pak", "-o", "out"}, 2, "", "?"},
        {{"verify", "a.pak", "--key", "k", "--no-key"}, 2, "", "?"},
        {{"diff", "a.pak", "a.pak", "--new-key", "k", "--new-no-key"}, 2, "", "?"},
        {{"extract", "a.pak", "-o", "x", "-o", "y"}, 2, "", "?"},
        {{"cache", "--reset", "--clear"}, 2, "", "?"},
        {{"report"}, 2, "", "ARCHIVE is required\nRun with --help for more information.\n"},
        {{"report", "a.pak", "--json"}, 2, "", "?"},
        {{"report", "a.pak", "-o"}, 2, "", "?"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.args));
        const ToolRun run = Inspect(c.args);
        EXPECT_EQ(run.status, c.status);
        EXPECT_NE(run.out.find(c.out), std::string::npos) << run.out;
        if (c.status != 0) {
            EXPECT_EQ(run.out, "");
        }
        if (c.err == "?") {
            EXPECT_NE(run.err, "");
        } else {
            EXPECT_EQ(run.err, c.err);
        }
    }
    EXPECT_TRUE(Tree("out").empty() && Tree("x").empty());

    // Standard output that cannot be written fails the run, for every command
    // (on a POSIX system's full device).
    if (testing::OnWindows)
        return;
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"--help"}, {"extract", "--help"}, {"--version"}, {"list", "a.pak"}, {"verify", "a.pak", "--json"},
             {"extract", "a.pak", "-o", "out"}, {"diff", "a.pak", "a.pak"}, {"list", "missing.pak", "--json"},
             {"report", "a.pak", "-o", "page.html"}}) {
        SCOPED_TRACE(::testing::PrintToString(args));
        std::vector<std::string> shell{"-c", "exec \"$0\" \"$@\" > /dev/full", ZELKOR_INSPECT_BINARY};
        shell.insert(shell.end(), args.begin(), args.end());
        const ToolRun run = testing::RunProgram("/bin/sh", shell, dir_.path());
        EXPECT_EQ(run.status, 2);
        EXPECT_EQ(Count(run.err, "zelkor-inspect: cannot write the output\n"), 1u) << run.err;
    }
}

}  // namespace
}  // namespace zelkor
