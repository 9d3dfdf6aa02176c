// A pack command loads files ahead of the one it writes; what it writes and
// prints must still be what loading them one after the other gives. Each case
// mixes very different sizes (large first, tiny last), so that later files finish
// loading long before earlier ones.
#include <optional>

#include <gtest/gtest.h>

#include "archive/archive_format.h"
#include "processor_fixture.h"
#include "support/test_data.h"

namespace zelkor {
namespace {

using testing::CompressibleText;
using testing::RandomBytes;

using testing::ArchivedContents;
using testing::ArchivedNames;
using testing::ToolRun;
using Names = std::vector<std::string>;

// One File element: its ArchivedPath (none: the attribute is missing) and its
// source's content (none: the source does not exist).
struct Entry {
    std::optional<std::string> archived;
    std::string source;
    std::optional<std::string> content;
};

class PackOrderTest : public testing::ProcessorTest {
protected:
    // Large files first, then a few hundred small and tiny ones with missing
    // sources, a directory and an entry the archive cannot name in between.
    void AddMixedEntries()
    {
        Add("large/text", CompressibleText(3 << 20, 1));
        Add("large/noise", RandomBytes(1 << 20, 2));
        Add("large/more", CompressibleText(1 << 20, 3));
        for (unsigned i = 0; i < 300; ++i) {
            const std::string name = "small/" + std::to_string(i);
            if (i % 29 == 7)
                entries_.push_back({name, "src/" + name + ".missing", std::nullopt});
            else if (i == 150)
                entries_.push_back({"dir", "src", std::nullopt});
            else if (i == 200)
                Add(std::string(MaxNameLength + 1, 'n'), CompressibleText(5000, i), "src/unnamable");
            else
                Add(name, i % 10 == 0 ? CompressibleText(50000 + i, i) : CompressibleText(i % 40, i));
        }
    }

    void Add(const std::string& archived, const std::string& content, std::string source = "")
    {
        if (source.empty())
            source = "src/" + archived;
        dir_.Write(source, content);
        entries_.push_back({archived, source, content});
    }

    std::string Command(const std::string& archive) const
    {
        std::string command = "  <CreateOrvanPack ArchivePath=\"" + archive + "\" BuildKeyfile=\"true\">\n";
        for (const Entry& entry : entries_) {
            command += entry.archived ? testing::FileElement(*entry.archived, entry.source)
                                      : "    <File><![CDATA[" + entry.source + "]]></File>\n";
        }
        return command + "  </CreateOrvanPack>\n";
    }

    // What loading and writing the entries one after the other gives: the names
    // and contents stored, and the lines printed, up to the first entry that
    // loads but has no ArchivedPath (which ends the run).
    struct Expected {
        Names names;
        Names contents;
        std::string err;
    };
    Expected Sequential() const
    {
        Expected expected;
        for (const Entry& entry : entries_) {
            if (!entry.content) {
                expected.err += "Cannot compress " + entry.source + "!\n";
            } else if (!entry.archived) {
                expected.err += "No such node (<xmlattr>.ArchivedPath)\n";
                break;
            } else if (entry.archived->size() > MaxNameLength) {
                expected.err += "Cannot store " + entry.source + "!\n";
            } else {
                expected.names.push_back(*entry.archived);
                expected.contents.push_back(*entry.content);
            }
        }
        return expected;
    }

    void ExpectArchive(const std::string& archive, const Expected& expected)
    {
        auto files = Archive(archive, archive + ".zlk");
        EXPECT_EQ(ArchivedNames(files), expected.names);
        // Compared whole rather than printed: the contents are large.
        EXPECT_TRUE(ArchivedContents(files) == expected.contents);
    }

    std::vector<Entry> entries_;
};

TEST_F(PackOrderTest, EntriesAndWarningsFollowDocumentOrder)
{
    AddMixedEntries();
    ToolRun run = RunCommands(Command("out.pak"));
    const Expected expected = Sequential();
    EXPECT_EQ(run.err, expected.err);
    EXPECT_EQ(run.status, 1);
    ExpectArchive("out.pak", expected);
}

TEST_F(PackOrderTest, AMissingArchivedPathStopsRightThere)
{
    AddMixedEntries();
    // A source that loads but has no ArchivedPath, between a large file and the
    // small ones; after it come more missing sources and a large file, none of
    // which may show up.
    entries_.insert(entries_.begin() + 3, Entry{std::nullopt, "src/large/noise", "x"});
    entries_.insert(entries_.begin() + 2, Entry{"gone", "src/gone", std::nullopt});
    ToolRun run = RunCommands(Command("out.pak") + "  <CreateOrvanPack ArchivePath=\"later.pak\"/>\n");
    const Expected expected = Sequential();
    EXPECT_EQ(run.err, "Cannot compress src/gone!\nNo such node (<xmlattr>.ArchivedPath)\n");
    EXPECT_EQ(run.err, expected.err);
    EXPECT_EQ(run.status, 2);
    // The run failed, so the archive it was building does not appear.
    EXPECT_FALSE(Exists("out.pak"));
    EXPECT_FALSE(Exists("later.pak"));
}

}  // namespace
}  // namespace zelkor
