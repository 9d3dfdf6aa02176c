#include "output/joint_commit.h"

#ifndef _WIN32
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <filesystem>
#include <functional>
#include <memory>
#include <span>
#include <vector>

#include <gtest/gtest.h>

#include "output/commit_record.h"
#include "output/signal_cleanup.h"
#include "platform/file_system.h"
#include "support/system_tests.h"
#include "support/temp_dir.h"

namespace zelkor {
namespace {

namespace fs = std::filesystem;
using testing::TempDir;
using testing::WriteFile;

// --- The record ---------------------------------------------------------------

// MaxPairs + 1 pairs of distinct targets, the primary `a.pak` last.
std::vector<CommitRecord::Pair> MorePairsThanARecordHolds(const std::string& archive)
{
    std::vector<CommitRecord::Pair> pairs;
    for (std::size_t i = 0; i < CommitRecord::MaxPairs; ++i) {
        std::string target = std::to_string(i);
        target += ".pak";
        pairs.push_back({target, OutputGuard::HiddenName(target, "x0Y1z2")});
    }
    pairs.push_back({"a.pak", archive});
    return pairs;
}

// The identity of the file at `path` as a record gives it.
CommitRecord::Identity IdentityOf(const fs::path& path)
{
    const std::optional<FileStatus> status = StatusOf(path.string(), FollowLinks::No);
    EXPECT_TRUE(status) << path;
    return status ? CommitRecord::Identity::Of(*status) : CommitRecord::Identity();
}

TEST(CommitRecordTest, RoundTripAndEveryRefusedForm)
{
    const std::string key = OutputGuard::HiddenName("a.zlk", "Ab3dE9");
    const std::string archive = OutputGuard::HiddenName("a.pak", "x0Y1z2");
    const CommitRecord good{{{"/keys/a.zlk", key, {1, 2, 3, 4}}, {"a.pak", archive, {5, 6, 7, -8}}}};
    const std::string recordName = CommitRecord::NameFor("a.pak");
    EXPECT_EQ(recordName, ".a.pak.zelkor-commit");
    const std::vector<std::uint8_t> bytes = good.Encode();
    ASSERT_EQ(CommitRecord::Decode(bytes, recordName)->pairs, good.pairs);
    EXPECT_FALSE(CommitRecord::Decode(bytes, CommitRecord::NameFor("b.pak")));

    // Damaged bytes: cut short anywhere, any byte changed, one byte more.
    for (std::size_t size = 0; size < bytes.size(); ++size)
        EXPECT_FALSE(CommitRecord::Decode(std::span(bytes).first(size), recordName)) << size;
    for (std::size_t at = 0; at < bytes.size(); ++at) {
        std::vector<std::uint8_t> flipped = bytes;
        flipped[at] ^= 0x20;
        EXPECT_FALSE(CommitRecord::Decode(flipped, recordName)) << at;
    }
    std::vector<std::uint8_t> longer = bytes;
    longer.push_back(0);
    EXPECT_FALSE(CommitRecord::Decode(longer, recordName));
    // A record of another version is not followed, and known as such.
    EXPECT_FALSE(CommitRecord::OfAnotherVersion(bytes));
    std::vector<std::uint8_t> first = bytes;
    first[4] = 1;
    EXPECT_FALSE(CommitRecord::Decode(first, recordName));
    EXPECT_TRUE(CommitRecord::OfAnotherVersion(first));

    // Well-formed records that could make a rename reach anything else.
    const struct {
        const char* why;
        std::vector<CommitRecord::Pair> pairs;
    } refused[] = {
        {"no pairs", {}},
        {"more pairs than a record holds", MorePairsThanARecordHolds(archive)},
        {"the primary elsewhere", {{"/out/a.pak", archive}}},
        {"the primary in a subdirectory", {{"sub/a.pak", archive}}},
        {"another primary", {{"b.pak", OutputGuard::HiddenName("b.pak", "x0Y1z2")}}},
        {"another file's temporary", {{"a.pak", OutputGuard::HiddenName("b.pak", "x0Y1z2")}}},
        {"a temporary elsewhere", {{"a.pak", "../" + archive}}},
        {"a temporary that is the record", {{"a.pak", recordName}}},
        {"a lock for a temporary", {{"a.pak", OutputGuard::HiddenName("a.pak", "lock")}}},
        {"a suffix that is not letters and digits", {{"a.pak", OutputGuard::HiddenName("a.pak", "x0Y-z2")}}},
        {"a relative path for a key", {{"keys/a.zlk", key}, {"a.pak", archive}}},
        {"a key named ..", {{"/keys/..", OutputGuard::HiddenName("..", "Ab3dE9")}, {"a.pak", archive}}},
        {"one target twice", {{"a.pak", archive}, {"a.pak", archive}}},
        {"a NUL in a target", {{std::string("/k/a\0b", 6), key}, {"a.pak", archive}}},
    };
    for (const auto& row : refused)
        EXPECT_FALSE(CommitRecord::Decode(CommitRecord{row.pairs}.Encode(), recordName)) << row.why;
}

// --- Commits --------------------------------------------------------------------

class JointCommitTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        fs::create_directories(dir_ / "keys");
        dir_.Write("a.pak", "old archive");
        dir_.Write("keys/a.zlk", "old key");
    }

    std::string Path(const std::string& relative) const { return (dir_ / relative).string(); }

    // Writes a new key file and archive and commits them together; 0 when
    // that worked, 1 when the commit failed, 3 when the files could not be made.
    // `removals` are retired by the commit.
    int Commit(std::span<const std::string> removals = {}) const
    {
        OutputGuard key(Path("keys/a.zlk"), {.lock = true, .sync = true});
        OutputGuard archive(Path("a.pak"), {.lock = true, .sync = true});
        if (!key.Open() || !archive.Open() || !key.Output().WriteAll("new key", 7) ||
            !archive.Output().WriteAll("new archive", 11))
            return 3;
        OutputGuard* const guards[] = {&key, &archive};
        return JointCommit::Commit(guards, removals) ? 1 : 0;
    }

#ifndef _WIN32
    // Commit in a child process that has the tools' signal handling, with
    // `hook` between the two renames (or, with `beforeRecord`, before the
    // record is written); the child's wait status.
    int CommitInChild(void (*hook)(), std::span<const std::string> removals = {}, bool beforeRecord = false)
    {
        const pid_t child = ::fork();
        if (child == 0) {
            SignalCleanup::Install();
            if (beforeRecord)
                JointCommit::SetHookBeforeRecord(hook);
            else
                JointCommit::SetHookBetweenRenames(hook);
            ::_exit(Commit(removals));
        }
        int status = 0;
        ::waitpid(child, &status, 0);
        return status;
    }
#endif

    // Every name in the temporary directory, its subdirectory's included.
    std::vector<std::string> Names() const
    {
        std::vector<std::string> names;
        for (const auto& entry : fs::recursive_directory_iterator(dir_.path()))
            names.push_back(fs::relative(entry.path(), dir_.path()).generic_string());
        std::sort(names.begin(), names.end());
        return names;
    }

    void ExpectPair(const std::string& key, const std::string& archive) const
    {
        EXPECT_EQ(dir_.Read("keys/a.zlk"), key);
        EXPECT_EQ(dir_.Read("a.pak"), archive);
    }

    const std::vector<std::string> onlyThePair_ = {"a.pak", "keys", "keys/a.zlk"};
    TempDir dir_;
};

TEST_F(JointCommitTest, CommitsBothAndLeavesNothingElse)
{
    EXPECT_EQ(Commit(), 0);
    ExpectPair("new key", "new archive");
    EXPECT_EQ(Names(), onlyThePair_);
}

TEST_F(JointCommitTest, ASignalBetweenTheRenamesCompletesTheSecond)
{
    ZELKOR_POSIX_ONLY("a child process killed by a signal");
#ifndef _WIN32
    const int status = CommitInChild([] { ::raise(SIGTERM); });
    ASSERT_TRUE(WIFSIGNALED(status));
    EXPECT_EQ(WTERMSIG(status), SIGTERM);
    ExpectPair("new key", "new archive");
    EXPECT_EQ(Names(), onlyThePair_);
#endif
}

TEST_F(JointCommitTest, AKillBetweenTheRenamesIsCompletedByTheNextOne)
{
    ZELKOR_POSIX_ONLY("a child process killed by a signal");
#ifndef _WIN32
    const int status = CommitInChild([] { ::raise(SIGKILL); });
    ASSERT_TRUE(WIFSIGNALED(status));
    // What a crash at that moment leaves: the new key beside the old archive,
    // the archive's temporary file, the record, and the two lock files.
    ExpectPair("new key", "old archive");
    EXPECT_TRUE(fs::exists(dir_ / ".a.pak.zelkor-commit"));
    EXPECT_EQ(Names().size(), onlyThePair_.size() + 4);

    JointCommit::Complete(Path("a.pak"));
    ExpectPair("new key", "new archive");
    EXPECT_EQ(Names(), onlyThePair_);  // the lock files went with the locks Complete took
#endif
}

TEST_F(JointCommitTest, RetiredFilesGoOnlyOnceTheCommitIsDecided)
{
    ZELKOR_POSIX_ONLY("a child process stopped by a signal");
#ifndef _WIN32
    // Where the commit stops, and whether the new pair and the retirement of
    // the old volume follow. Killed outright after the renames, the record
    // does not name the retired file: the commit completes without it.
    const struct {
        const char* where;
        void (*hook)();
        bool beforeRecord;
        bool committed;
        bool retired;
    } rows[] = {
        {"not stopped", nullptr, false, true, true},
        {"a SIGTERM before the record", [] { ::raise(SIGTERM); }, true, false, false},
        {"a SIGTERM between the renames", [] { ::raise(SIGTERM); }, false, true, true},
        {"a SIGKILL between the renames", [] { ::raise(SIGKILL); }, false, true, false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.where);
        SetUp();
        dir_.Write("a_001.pak", "old volume");
        const std::string removals[] = {Path("a_001.pak")};
        CommitInChild(row.hook, removals, row.beforeRecord);
        JointCommit::Complete(Path("a.pak"));
        if (row.committed)
            ExpectPair("new key", "new archive");
        else
            ExpectPair("old key", "old archive");
        EXPECT_EQ(fs::exists(dir_ / "a_001.pak"), !row.retired);
        fs::remove(dir_ / "a_001.pak");
        EXPECT_EQ(Names(), onlyThePair_);
    }
#endif
}

TEST_F(JointCommitTest, RecordsThatAreStaleForeignOrHeldAreNotFollowed)
{
    const std::string recordPath = Path(".a.pak.zelkor-commit");
    const std::string temporary = OutputGuard::HiddenName("a.pak", "Q1w2E3");
    const auto writeRecord = [&](const std::vector<std::uint8_t>& bytes) {
        WriteFile(recordPath, std::string(bytes.begin(), bytes.end()));
    };
    const CommitRecord record{{{"a.pak", temporary}}};

    // Stale: its temporary file is gone. The record goes, the archive stays.
    writeRecord(record.Encode());
    JointCommit::Complete(Path("a.pak"));
    EXPECT_FALSE(fs::exists(recordPath));
    EXPECT_EQ(dir_.Read("a.pak"), "old archive");

    // Torn or forged (it does not decode): removed, and nothing is renamed.
    dir_.Write(temporary, "planted");
    writeRecord({'Z', 'L', 'K', 'C', 1});
    JointCommit::Complete(Path("a.pak"));
    EXPECT_FALSE(fs::exists(recordPath));
    EXPECT_EQ(dir_.Read("a.pak"), "old archive");

    // A temporary that is a link is never renamed over the archive.
    fs::remove(dir_ / temporary);
    if (testing::MakeSymlink("keys/a.zlk", dir_ / temporary)) {
        writeRecord(record.Encode());
        JointCommit::Complete(Path("a.pak"));
        EXPECT_EQ(dir_.Read("a.pak"), "old archive");
        EXPECT_TRUE(fs::is_symlink(dir_ / temporary));
        fs::remove(dir_ / temporary);
    }

    // A writer still at work holds the lock, and completes the commit itself.
    dir_.Write(temporary, "new archive");
    const CommitRecord written{{{"a.pak", temporary, IdentityOf(dir_ / temporary)}}};
    writeRecord(written.Encode());
    {
        OutputGuard writer(Path("a.pak"), {.lock = true, .sync = false});
        ASSERT_TRUE(writer.Open());
        JointCommit::Complete(Path("a.pak"));
        EXPECT_TRUE(fs::exists(recordPath));
        EXPECT_EQ(dir_.Read("a.pak"), "old archive");
    }

    // Another user's record is left alone (as root, the test can make one;
    // Windows files have no owner of that kind), and so is one that others may
    // write.
#ifndef _WIN32
    if (EffectiveUser() == 0) {
        ASSERT_EQ(::chown(recordPath.c_str(), 65534, 65534), 0);
        JointCommit::Complete(Path("a.pak"));
        EXPECT_TRUE(fs::exists(recordPath));
        EXPECT_EQ(dir_.Read("a.pak"), "old archive");
        ASSERT_EQ(::chown(recordPath.c_str(), 0, 0), 0);
    }
    for (const fs::perms writable : {fs::perms::group_write, fs::perms::others_write}) {
        fs::permissions(recordPath, writable, fs::perm_options::add);
        JointCommit::Complete(Path("a.pak"));
        EXPECT_TRUE(fs::exists(recordPath));
        EXPECT_EQ(dir_.Read("a.pak"), "old archive");
        fs::permissions(recordPath, writable, fs::perm_options::remove);
    }
#endif
    JointCommit::Complete(Path("a.pak"));
    EXPECT_FALSE(fs::exists(recordPath));
    EXPECT_EQ(dir_.Read("a.pak"), "new archive");
}

TEST_F(JointCommitTest, ACommitWhosePrimaryFileWasRemovedIsGivenUp)
{
    // Killed before the first rename, and then the archive's temporary file was
    // deleted by hand: completing the key file alone would break the old pair.
    const std::string keyTemporary = OutputGuard::HiddenName("a.zlk", "Ab3dE9");
    dir_.Write("keys/" + keyTemporary, "new key");
    const CommitRecord record{{{*AbsolutePath(Path("keys/a.zlk")), keyTemporary, IdentityOf(dir_ / "keys" / keyTemporary)},
                               {"a.pak", OutputGuard::HiddenName("a.pak", "x0Y1z2"), {1, 2, 3, 4}}}};
    const std::vector<std::uint8_t> bytes = record.Encode();
    WriteFile(dir_ / ".a.pak.zelkor-commit", std::string(bytes.begin(), bytes.end()));
    JointCommit::Complete(Path("a.pak"));
    ExpectPair("old key", "old archive");
    EXPECT_EQ(Names(), onlyThePair_);
}

TEST_F(JointCommitTest, RecoveryGoesByWhatWasWrittenNotByNames)
{
    ZELKOR_POSIX_ONLY("a child process killed by a signal");
#ifndef _WIN32
    // Killed between the renames; then someone puts a file at the key file's
    // old temporary name, and another at the archive's target.
    ASSERT_TRUE(WIFSIGNALED(CommitInChild([] { ::raise(SIGKILL); })));
    const std::string record = dir_.Read(".a.pak.zelkor-commit");
    const auto decoded = CommitRecord::Decode(std::span(reinterpret_cast<const std::uint8_t*>(record.data()),
                                                        record.size()),
                                              ".a.pak.zelkor-commit");
    ASSERT_TRUE(decoded);
    // The record is the user's alone, whatever the mask.
    EXPECT_EQ(fs::status(dir_ / ".a.pak.zelkor-commit").permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write);
    const std::string keyTemporary = decoded->pairs[0].temporary;
    dir_.Write("keys/" + keyTemporary, "planted");
    // Before: the planted file made the reader give up and remove the archive's
    // temporary file, leaving the new key file beside the old archive for good.
    JointCommit::Complete(Path("a.pak"));
    ExpectPair("new key", "new archive");
    EXPECT_EQ(dir_.Read("keys/" + keyTemporary), "planted");  // someone else's: left alone
    EXPECT_FALSE(fs::exists(dir_ / ".a.pak.zelkor-commit"));
#endif
}

TEST_F(JointCommitTest, WhateverIsPutAtTheRecordsNameIsNeitherWaitedOnNorWrittenThrough)
{
    ZELKOR_POSIX_ONLY("FIFOs, hard links and owners");
#ifndef _WIN32
    const fs::path record = dir_ / ".a.pak.zelkor-commit";
    dir_.Write("victim", "keep me");
    const struct {
        const char* what;
        std::function<void()> plant;
        bool committed;
    } cases[] = {
        // Before: opened blocking, so the build hung holding the archive's lock.
        {"a FIFO", [&] { ASSERT_EQ(::mkfifo(record.c_str(), 0600), 0); }, false},
        // Before: truncated and written through. Now renamed over: the name goes
        // to the record, the file it named stays whole.
        {"a hard link to a file of the user's", [&] { fs::create_hard_link(dir_ / "victim", record); }, true},
        {"a link", [&] { fs::create_symlink(dir_ / "victim", record); }, false},
        {"a directory", [&] { fs::create_directory(record); }, false},
        {"another user's file",
         [&] {
             dir_.Write(".a.pak.zelkor-commit", "theirs");
             if (EffectiveUser() == 0) {
                 ASSERT_EQ(::chown(record.c_str(), 65534, 65534), 0);
             }
         },
         EffectiveUser() != 0},
    };
    for (const auto& c : cases) {
        dir_.Write("a.pak", "old archive");
        dir_.Write("keys/a.zlk", "old key");
        c.plant();
        EXPECT_EQ(JointCommit::RecordNameFree(Path("a.pak")), c.committed) << c.what;
        EXPECT_EQ(Commit(), c.committed ? 0 : 1) << c.what;
        if (c.committed) {
            ExpectPair("new key", "new archive");
            EXPECT_FALSE(fs::exists(fs::symlink_status(record))) << c.what;
        } else {
            ExpectPair("old key", "old archive");
            EXPECT_TRUE(fs::exists(fs::symlink_status(record))) << c.what;
            fs::remove(record);
        }
        EXPECT_EQ(dir_.Read("victim"), "keep me") << c.what;
        // Nothing else is left beside the pair: no temporary file of either
        // file or of the record.
        std::vector<std::string> names = Names();
        std::erase(names, "victim");
        EXPECT_EQ(names, onlyThePair_) << c.what;
    }
#endif
}

}  // namespace
}  // namespace zelkor
