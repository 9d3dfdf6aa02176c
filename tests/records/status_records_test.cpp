// The records kept beside the compression cache: a source's status record and
// when it is trusted, the record file's envelope, and the tables' upkeep.
#include "records/status_records.h"

#include <filesystem>
#include <functional>
#include <limits>

#include <gtest/gtest.h>

#include "platform/wall_clock.h"
#include "records/build_records.h"
#include "records/record_file.h"
#include "support/system_tests.h"
#include "support/temp_dir.h"

namespace zelkor {
namespace {

using Bytes = std::vector<std::uint8_t>;
constexpr std::int64_t Second = 1'000'000'000;

FileStatus SettledStatus()
{
    FileStatus status;
    status.kind = FileKind::Regular;
    status.device = 2049;
    status.inode = 131'072;
    status.size = 5000;
    status.modifiedNanoseconds = WallClockNanoseconds() - 60 * Second;
    status.changedNanoseconds = status.modifiedNanoseconds + 7;
    status.mount = 31;
    status.fileSystem = 0x5EED'F00D;
    status.keepsChangeTime = true;
    return status;
}

CacheKey SomeKey(std::uint8_t seed)
{
    CacheKey key;
    for (std::size_t i = 0; i < key.bytes.size(); ++i)
        key.bytes[i] = static_cast<std::uint8_t>(seed + i);
    return key;
}

// Ten keys, distinct, that live as long as the test.
const std::vector<CacheKey>& Keys()
{
    static const std::vector<CacheKey> keys = [] {
        std::vector<CacheKey> made;
        for (std::uint8_t i = 0; i < 10; ++i)
            made.push_back(SomeKey(static_cast<std::uint8_t>(i * 40)));
        return made;
    }();
    return keys;
}

class StatusRecordsTest : public ::testing::Test {
protected:
    StatusRecordsTest() : root_(*Directory::Open(dir_.path().string())) {}

    std::unique_ptr<StatusRecords> Records(StatusRecords::Options options = {},
                                           std::int64_t now = WallClockNanoseconds())
    {
        return std::make_unique<StatusRecords>(root_, options, now);
    }

    // A source read whole without moving, opened just now.
    static std::optional<std::int64_t> ReadStill(StatusRecords& records, const std::string& name,
                                                 const FileStatus& status, const CacheKey* key, std::uint32_t hash)
    {
        return records.Read(name, status, status, WallClockNanoseconds(), status.size, key, hash);
    }

    testing::TempDir dir_;
    Directory root_;
};

TEST_F(StatusRecordsTest, ARecordIsTrustedOnlyWhenEveryFieldMatches)
{
    const FileStatus recorded = SettledStatus();
    const struct {
        const char* field;
        std::function<void(FileStatus&)> change;
        bool trusted;
    } cases[] = {
        {"nothing", [](FileStatus&) {}, true},
        // Fields a record does not hold may change.
        {"permissions", [](FileStatus& s) { s.permissions ^= 0444; }, true},
        {"device", [](FileStatus& s) { s.device += 1; }, false},
        {"inode", [](FileStatus& s) { s.inode += 1; }, false},
        {"size", [](FileStatus& s) { s.size -= 1; }, false},
        {"modified", [](FileStatus& s) { s.modifiedNanoseconds += 1; }, false},
        {"modified back", [](FileStatus& s) { s.modifiedNanoseconds -= Second; }, false},
        {"changed", [](FileStatus& s) { s.changedNanoseconds += 1; }, false},
        {"kind", [](FileStatus& s) { s.kind = FileKind::Directory; }, false},
        // Another image mounted where one was: the same inode, size and times.
        {"mount", [](FileStatus& s) { s.mount += 1; }, false},
        {"file system", [](FileStatus& s) { s.fileSystem += 1; }, false},
        {"on a file system whose times may lie", [](FileStatus& s) { s.keepsChangeTime = false; }, false},
    };
    const auto records = Records();
    ReadStill(*records, "/src/a", recorded, &Keys()[1], 0xABCD);
    for (const auto& c : cases) {
        FileStatus now = recorded;
        c.change(now);
        const std::optional<StatusRecords::Record> record = records->Trusted("/src/a", now);
        ASSERT_EQ(record.has_value(), c.trusted) << c.field;
        if (record) {
            EXPECT_EQ(record->key, Keys()[1]);
            EXPECT_EQ(record->contentHash, 0xABCDu);
        }
    }
    EXPECT_FALSE(records->Trusted("/src/b", recorded));
    // With the trust turned off, records are made and never trusted.
    const auto rehashing = Records({.trust = false});
    ReadStill(*rehashing, "/src/a", recorded, &Keys()[1], 0xABCD);
    EXPECT_EQ(rehashing->Size(), 1u);
    EXPECT_FALSE(rehashing->Trusted("/src/a", recorded));
}

TEST_F(StatusRecordsTest, OnlyASettledSourceReadWholeWithoutMovingIsRecorded)
{
    // What a read met: the status at the open and after it, the bytes read,
    // and when it was opened, as a time after the source's last change.
    struct Read {
        FileStatus before = SettledStatus();
        FileStatus after = before;
        std::uint64_t bytes = before.size;
        std::optional<std::int64_t> openedAfterChange;  // none: opened now
        void Changed(std::int64_t ago)
        {
            before.changedNanoseconds = after.changedNanoseconds = WallClockNanoseconds() - ago;
        }
    };
    const struct {
        const char* what;
        std::function<void(Read&)> change;
        bool recorded;
    } cases[] = {
        {"settled and still", [](Read&) {}, true},
        {"changed while read", [](Read& r) { r.after.changedNanoseconds += Second; }, false},
        {"grew while read", [](Read& r) { r.after.size += 1; }, false},
        {"replaced while read", [](Read& r) { r.after.inode += 1; }, false},
        {"remounted while read", [](Read& r) { r.after.mount += 1; }, false},
        // A size the system does not report truly (/proc, /sys).
        {"read more than its size", [](Read& r) { r.bytes += 100; }, false},
        // Squashfs, FAT, a network file system: times an image or a server gives.
        {"on a file system whose times may lie", [](Read& r) { r.before.keepsChangeTime = false; }, false},
        {"changed a second ago", [](Read& r) { r.Changed(Second); }, false},
        {"modified in the future", [](Read& r) { r.Changed(-3600 * Second); }, false},
        {"changed three seconds ago", [](Read& r) { r.Changed(3 * Second); }, true},
        // The two seconds count back from the open, not from the end of the
        // read: a read that took two seconds proves nothing about a change just
        // before it began.
        {"opened 1.5 s after its change, read for a minute", [](Read& r) { r.openedAfterChange = Second * 3 / 2; },
         false},
        {"opened 2.5 s after its change", [](Read& r) { r.openedAfterChange = Second * 5 / 2; }, true},
    };
    for (const auto& c : cases) {
        Read read;
        c.change(read);
        const std::int64_t opened = read.openedAfterChange
                                        ? RecordedStatus::Of(read.before).LastChange() + *read.openedAfterChange
                                        : WallClockNanoseconds();
        const auto records = Records();
        const std::optional<std::int64_t> proven =
            records->Read("/src/a", read.before, read.after, opened, read.bytes, &Keys()[2], 1);
        EXPECT_EQ(proven.has_value(), c.recorded) << c.what;
        EXPECT_EQ(records->Size(), c.recorded ? 1u : 0u) << c.what;
        EXPECT_EQ(proven.value_or(opened), opened) << c.what;
    }
    // Without a key (a source stored as it is), found unchanged but not recorded.
    const auto records = Records();
    EXPECT_TRUE(ReadStill(*records, "/src/raw", SettledStatus(), nullptr, 1));
    EXPECT_EQ(records->Size(), 0u);
}

TEST_F(StatusRecordsTest, ARecordIsTrustedOnlyWhileItsProofIsFresh)
{
    // A tool that rewrites a file through a shared mapping moves neither of its
    // times: only a read proves the record again, at least once a day.
    const FileStatus status = SettledStatus();
    const std::int64_t opened = WallClockNanoseconds();
    {
        const auto records = Records({}, opened);
        ASSERT_TRUE(ReadStill(*records, "/src/a", status, &Keys()[5], 3));
        ASSERT_TRUE(records->Flush());
    }
    const std::int64_t proven = Records()->Trusted("/src/a", status)->proven;
    constexpr std::int64_t Hour = 3600 * Second;
    const struct {
        std::int64_t later;
        std::int64_t trustFor;
        bool trusted;
    } cases[] = {
        {0, StatusRecords::DefaultTrustFor, true},
        {23 * Hour, StatusRecords::DefaultTrustFor, true},
        {25 * Hour, StatusRecords::DefaultTrustFor, false},
        {25 * Hour, 48 * Hour, true},
        {Hour, 0, false},  // ZELKOR_CACHE_TRUST_HOURS=0: every source is read
        // A proof dated ahead of the clock by more than the bound.
        {-25 * Hour, StatusRecords::DefaultTrustFor, false},
    };
    for (const auto& c : cases) {
        const auto records = Records({.trustFor = c.trustFor}, proven + c.later);
        EXPECT_EQ(records->Trusted("/src/a", status).has_value(), c.trusted) << c.later << " " << c.trustFor;
        EXPECT_EQ(records->Fresh(proven), c.trusted) << c.later << " " << c.trustFor;
    }
    // Read again within the hour with the same outcome, the proof keeps its
    // time (the file need not be written again); an hour on, it takes the new one.
    {
        const auto records = Records();
        EXPECT_EQ(ReadStill(*records, "/src/a", status, &Keys()[5], 3), proven);
        EXPECT_EQ(records->Read("/src/a", status, status, proven + 2 * Hour, status.size, &Keys()[5], 3),
                  proven + 2 * Hour);
    }
}

TEST_F(StatusRecordsTest, RecordsOutliveTheRunAndADamagedFileIsIgnoredAndRewritten)
{
    const FileStatus status = SettledStatus();
    {
        const auto records = Records();
        ReadStill(*records, "/src/a", status, &Keys()[3], 9);
        EXPECT_TRUE(records->Flush());
    }
    EXPECT_TRUE(Records()->Trusted("/src/a", status));
    // A flipped bit anywhere, a file cut short, one grown: no records.
    const std::string good = dir_.Read("sources");
    // Writable by others: whoever may write it could have put any record there
    // (a permission bit, which Windows files do not have).
    namespace fs = std::filesystem;
    if (!testing::OnWindows) {
        fs::permissions(dir_ / "sources", fs::perms::group_write, fs::perm_options::add);
        EXPECT_EQ(Records()->Size(), 0u);
        fs::permissions(dir_ / "sources", fs::perms::group_write, fs::perm_options::remove);
    }
    EXPECT_EQ(Records()->Size(), 1u);
    // Made on another machine (a cache shared over the network), by another
    // version, or damaged.
    for (const std::size_t at : {std::size_t{0}, RecordFile::VersionAt, RecordFile::FingerprintAt + 5,
                                 RecordFile::MachineAt, RecordFile::MachineAt + 31,
                                 RecordFile::BodySizeAt, RecordFile::HeaderSize + 3, good.size() - 1}) {
        std::string damaged = good;
        damaged[at] ^= 0x10;
        dir_.Write("sources", damaged);
        fs::permissions(dir_ / "sources", fs::perms(0644));
        EXPECT_EQ(Records()->Size(), 0u) << at;
    }
    for (const std::string& damaged : {good.substr(0, good.size() - 1), good + "x", std::string()}) {
        dir_.Write("sources", damaged);
        EXPECT_EQ(Records()->Size(), 0u) << damaged.size();
    }
    // Another kind of record file under the name is foreign too.
    dir_.Write("sources", "");
    {
        BuildRecords builds(root_, 1 << 20, WallClockNanoseconds());
        builds.Put("/out/a.pak", {});
        ASSERT_TRUE(builds.Flush());
        std::filesystem::rename(dir_ / "builds", dir_ / "sources");
    }
    EXPECT_EQ(Records()->Size(), 0u);
    // The next run that reads the source writes a good file again.
    {
        const auto records = Records();
        ReadStill(*records, "/src/a", status, &Keys()[3], 9);
        EXPECT_TRUE(records->Flush());
    }
    EXPECT_TRUE(Records()->Trusted("/src/a", status));
}

TEST_F(StatusRecordsTest, AFileWrittenOnlyWhenSomethingChanged)
{
    const FileStatus status = SettledStatus();
    {
        const auto records = Records();
        ReadStill(*records, "/src/a", status, &Keys()[4], 9);
        ASSERT_TRUE(records->Flush());
    }
    const auto written = std::filesystem::last_write_time(dir_ / "sources");
    std::filesystem::last_write_time(dir_ / "sources", written - std::chrono::hours(1));
    // Trusted, or read again with the same outcome: nothing to write.
    {
        const auto records = Records();
        EXPECT_TRUE(records->Trusted("/src/a", status));
        ReadStill(*records, "/src/a", status, &Keys()[4], 9);
        ASSERT_TRUE(records->Flush());
    }
    EXPECT_EQ(std::filesystem::last_write_time(dir_ / "sources"), written - std::chrono::hours(1));
}

TEST_F(StatusRecordsTest, UnusedRecordsAgeOutAndTheFileKeepsItsBound)
{
    const std::int64_t start = WallClockNanoseconds();
    const Bytes payload(40, 7);
    {
        RecordTable table(root_, "t", 0x1234, 1 << 20, start);
        table.Put("vanished", payload);
        table.Put("kept", payload);
        ASSERT_TRUE(table.Flush());
    }
    {
        // A month and a day later only one of them is used again.
        RecordTable table(root_, "t", 0x1234, 1 << 20, start + RecordTable::UnusedFor + 24 * 3600 * Second);
        EXPECT_EQ(table.Size(), 2u);
        table.Use("kept");
        ASSERT_TRUE(table.Flush());
    }
    RecordTable aged(root_, "t", 0x1234, 1 << 20, start);
    EXPECT_TRUE(aged.Find("kept"));
    EXPECT_FALSE(aged.Find("vanished"));

    // Bounded to a few records: the least recently used go first.
    const std::size_t bound = 4 + 3 * (14 + 2 + payload.size());
    for (int i = 0; i < 6; ++i) {
        RecordTable table(root_, "b", 0x1234, bound, start + i * 2 * RecordTable::UseRecordedEvery);
        table.Put(std::string{'r', static_cast<char>('0' + i)}, payload);
        ASSERT_TRUE(table.Flush());
    }
    RecordTable bounded(root_, "b", 0x1234, bound, start);
    EXPECT_EQ(bounded.Size(), 3u);
    for (const char* name : {"r3", "r4", "r5"})
        EXPECT_TRUE(bounded.Find(name)) << name;
}

TEST_F(StatusRecordsTest, TimesOfUseFromTheFileAreNeverTrustedToFit)
{
    // A crafted or damaged file may give any time of use: the arithmetic on it
    // saturates (UBSan found the overflow), a record unused since long ago ages
    // out, and one used ahead of now is set to now once it is used.
    constexpr std::int64_t Most = std::numeric_limits<std::int64_t>::max();
    constexpr std::int64_t Least = std::numeric_limits<std::int64_t>::min();
    const std::int64_t now = WallClockNanoseconds();
    const struct {
        std::int64_t used;
        bool idleKept;
    } cases[] = {{Least, false}, {Least + 1, false}, {-1, false}, {0, false}, {now, true}, {Most, true}};
    for (const auto& c : cases) {
        RecordTable::Records records;
        records["used"] = {Bytes{1}, c.used};
        records["idle"] = {Bytes{2}, c.used};
        ASSERT_TRUE(RecordFile::Write(root_, "t", 0x1234, RecordTable::EncodeBody(records)));
        {
            RecordTable table(root_, "t", 0x1234, 1 << 20, now);
            table.Use("used");
            table.Put("new", Bytes{3});
            ASSERT_TRUE(table.Flush());
        }
        const auto body = RecordFile::Read(root_, "t", 0x1234, 1 << 20);
        ASSERT_TRUE(body);
        const auto read = RecordTable::DecodeBody(*body);
        ASSERT_TRUE(read);
        ASSERT_TRUE(read->contains("used")) << c.used;
        EXPECT_EQ(read->at("used").used, now) << c.used;
        EXPECT_EQ(read->contains("idle"), c.idleKept) << c.used;
    }
}

TEST_F(StatusRecordsTest, ConcurrentRunsKeepEachOthersRecords)
{
    const std::int64_t now = WallClockNanoseconds();
    RecordTable first(root_, "t", 0x1234, 1 << 20, now);
    RecordTable second(root_, "t", 0x1234, 1 << 20, now);
    first.Put("a", Bytes{1});
    second.Put("b", Bytes{2});
    second.Put("a", Bytes{3});
    ASSERT_TRUE(first.Flush());
    ASSERT_TRUE(second.Flush());
    RecordTable after(root_, "t", 0x1234, 1 << 20, now);
    EXPECT_EQ(after.Find("a"), Bytes{3});  // the last writer's
    EXPECT_EQ(after.Find("b"), Bytes{2});
    // Nothing but the file itself is left in the directory.
    std::size_t names = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir_.path())) {
        EXPECT_EQ(entry.path().filename(), "t");
        ++names;
    }
    EXPECT_EQ(names, 1u);
}

TEST_F(StatusRecordsTest, BuildRecordsRoundTrip)
{
    BuildRecords::Record record;
    record.inputs.emplace().fill(0x5A);
    record.archive = RecordedStatus::Of(SettledStatus());
    record.keyFile = RecordedStatus{1, 2, 3, 4, 5, 6, 7};
    record.proven = -8;
    record.material.fill(0x3C);
    EXPECT_EQ(BuildRecords::Decode(BuildRecords::Encode(record)), record);
    const Bytes stored = {1, 2, 3};
    record.entries.push_back({BuildRecords::SourceOf("/src/a", record.archive, false), FileEntry{9, 10, 88, 3, 11},
                              StoredHash::Of(stored), 12});
    record.entries.push_back({BuildRecords::SourceOf("/src/b", record.archive, true), FileEntry{0, 13, 111, 0, 14},
                              StoredHash::Of({}), -15});
    EXPECT_EQ(BuildRecords::Decode(BuildRecords::Encode(record)), record);
    record.keyFile.reset();
    EXPECT_EQ(BuildRecords::Decode(BuildRecords::Encode(record)), record);
    record.inputs.reset();
    EXPECT_EQ(BuildRecords::Decode(BuildRecords::Encode(record)), record);

    const Bytes good = BuildRecords::Encode(record);
    const std::size_t countAt = BuildRecords::Record::FixedSize - 4;
    const struct {
        const char* what;
        std::function<void(Bytes&)> spoil;
    } cases[] = {
        {"an inputs flag of 2", [](Bytes& b) { b[0] = 2; }},
        {"a key file flag of 2", [](Bytes& b) { b[1 + 32 + RecordedStatus::Size] = 2; }},
        {"cut within the fixed part", [](Bytes& b) { b.resize(BuildRecords::Record::FixedSize - 1); }},
        {"cut within an entry", [](Bytes& b) { b.pop_back(); }},
        {"a byte beyond the entries", [](Bytes& b) { b.push_back(0); }},
        {"one entry more counted", [&](Bytes& b) { b[countAt] = 3; }},
        {"one entry fewer counted", [&](Bytes& b) { b[countAt] = 1; }},
        {"a count that overflows", [&](Bytes& b) { b[countAt + 3] = 0x80; }},
    };
    for (const auto& c : cases) {
        Bytes bad = good;
        c.spoil(bad);
        EXPECT_FALSE(BuildRecords::Decode(bad)) << c.what;
    }

    // A volume set's record carries its further files after the entries; any
    // other length than their count gives is refused.
    record.setFiles = {RecordedStatus{6, 7, 8, 9, 10}, RecordedStatus{11, 12, 13, 14, 15}};
    const Bytes set = BuildRecords::Encode(record);
    EXPECT_EQ(BuildRecords::Decode(set), record);
    for (const std::size_t size : {good.size() + 1, good.size() + 4, set.size() - 1, set.size() + 1}) {
        Bytes resized = set;
        resized.resize(size);
        EXPECT_FALSE(BuildRecords::Decode(resized)) << size;
    }

    // A source is known by its name, its status and its Store choice, each.
    const BuildRecords::Digest a = BuildRecords::SourceOf("/src/a", record.archive, false);
    RecordedStatus touched = record.archive;
    ++touched.changed;
    EXPECT_NE(BuildRecords::SourceOf("/src/A", record.archive, false), a);
    EXPECT_NE(BuildRecords::SourceOf("/src/a", touched, false), a);
    EXPECT_NE(BuildRecords::SourceOf("/src/a", record.archive, true), a);
}

}  // namespace
}  // namespace zelkor
