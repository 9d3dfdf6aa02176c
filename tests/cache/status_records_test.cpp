// The records kept beside the compression cache: a source's status record and
// when it is trusted, the record file's envelope, and the tables' upkeep.
#include "cache/status_records.h"

#include <filesystem>
#include <functional>

#include <gtest/gtest.h>

#include "cache/build_records.h"
#include "cache/record_file.h"
#include "platform/wall_clock.h"
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

    std::unique_ptr<StatusRecords> Records(StatusRecords::Options options = {})
    {
        return std::make_unique<StatusRecords>(root_, options, WallClockNanoseconds());
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
    };
    const auto records = Records();
    records->Read("/src/a", recorded, recorded, recorded.size, &Keys()[1], 0xABCD);
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
    rehashing->Read("/src/a", recorded, recorded, recorded.size, &Keys()[1], 0xABCD);
    EXPECT_EQ(rehashing->Size(), 1u);
    EXPECT_FALSE(rehashing->Trusted("/src/a", recorded));
}

TEST_F(StatusRecordsTest, OnlyASettledSourceReadWholeWithoutMovingIsRecorded)
{
    const struct {
        const char* what;
        std::function<void(FileStatus& before, FileStatus& after, std::uint64_t& read)> change;
        bool recorded;
    } cases[] = {
        {"settled and still", [](FileStatus&, FileStatus&, std::uint64_t&) {}, true},
        {"changed while read", [](FileStatus&, FileStatus& a, std::uint64_t&) { a.changedNanoseconds += Second; }, false},
        {"grew while read", [](FileStatus&, FileStatus& a, std::uint64_t&) { a.size += 1; }, false},
        {"replaced while read", [](FileStatus&, FileStatus& a, std::uint64_t&) { a.inode += 1; }, false},
        // A size the system does not report truly (/proc, /sys).
        {"read more than its size", [](FileStatus&, FileStatus&, std::uint64_t& r) { r += 100; }, false},
        {"changed a second ago",
         [](FileStatus& b, FileStatus& a, std::uint64_t&) {
             b.changedNanoseconds = a.changedNanoseconds = WallClockNanoseconds() - Second;
         },
         false},
        {"modified in the future",
         [](FileStatus& b, FileStatus& a, std::uint64_t&) {
             b.modifiedNanoseconds = a.modifiedNanoseconds = WallClockNanoseconds() + 3600 * Second;
         },
         false},
        {"changed three seconds ago",
         [](FileStatus& b, FileStatus& a, std::uint64_t&) {
             b.changedNanoseconds = a.changedNanoseconds = WallClockNanoseconds() - 3 * Second;
         },
         true},
    };
    for (const auto& c : cases) {
        FileStatus before = SettledStatus();
        FileStatus after = before;
        std::uint64_t read = before.size;
        c.change(before, after, read);
        const auto records = Records();
        records->Read("/src/a", before, after, read, &Keys()[2], 1);
        EXPECT_EQ(records->Trusted("/src/a", before).has_value(), c.recorded) << c.what;
        EXPECT_EQ(records->Confirmed("/src/a").has_value(), c.recorded) << c.what;
    }
    // Without a key (a source stored as it is), found unchanged but not recorded.
    const auto records = Records();
    const FileStatus raw = SettledStatus();
    records->Read("/src/raw", raw, raw, raw.size, nullptr, 1);
    EXPECT_EQ(records->Confirmed("/src/raw"), RecordedStatus::Of(raw));
    EXPECT_EQ(records->Size(), 0u);
}

TEST_F(StatusRecordsTest, RecordsOutliveTheRunAndADamagedFileIsIgnoredAndRewritten)
{
    const FileStatus status = SettledStatus();
    {
        const auto records = Records();
        records->Read("/src/a", status, status, status.size, &Keys()[3], 9);
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
        records->Read("/src/a", status, status, status.size, &Keys()[3], 9);
        EXPECT_TRUE(records->Flush());
    }
    EXPECT_TRUE(Records()->Trusted("/src/a", status));
}

TEST_F(StatusRecordsTest, AFileWrittenOnlyWhenSomethingChanged)
{
    const FileStatus status = SettledStatus();
    {
        const auto records = Records();
        records->Read("/src/a", status, status, status.size, &Keys()[4], 9);
        ASSERT_TRUE(records->Flush());
    }
    const auto written = std::filesystem::last_write_time(dir_ / "sources");
    std::filesystem::last_write_time(dir_ / "sources", written - std::chrono::hours(1));
    // Trusted, or read again with the same outcome: nothing to write.
    {
        const auto records = Records();
        EXPECT_TRUE(records->Trusted("/src/a", status));
        records->Read("/src/a", status, status, status.size, &Keys()[4], 9);
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
    record.inputs.fill(0x5A);
    record.archive = RecordedStatus::Of(SettledStatus());
    record.keyFile = RecordedStatus{1, 2, 3, 4, 5};
    EXPECT_EQ(BuildRecords::Decode(BuildRecords::Encode(record)), record);
    record.keyFile.reset();
    EXPECT_EQ(BuildRecords::Decode(BuildRecords::Encode(record)), record);
    Bytes bad = BuildRecords::Encode(record);
    bad[32 + RecordedStatus::Size] = 2;
    EXPECT_FALSE(BuildRecords::Decode(bad));
    EXPECT_FALSE(BuildRecords::Decode(Bytes(BuildRecords::Record::Size - 1)));

    // A volume set's record carries its further files; any other length than
    // its count gives is refused.
    record.setFiles = {RecordedStatus{6, 7, 8, 9, 10}, RecordedStatus{11, 12, 13, 14, 15}};
    const Bytes set = BuildRecords::Encode(record);
    EXPECT_EQ(BuildRecords::Decode(set), record);
    for (const std::size_t size : {BuildRecords::Record::Size + 1, BuildRecords::Record::Size + 4, set.size() - 1,
                                   set.size() + 1}) {
        Bytes resized = set;
        resized.resize(size);
        EXPECT_FALSE(BuildRecords::Decode(resized)) << size;
    }
}

}  // namespace
}  // namespace zelkor
