// The cache in a directory: entries that round-trip or are refused, eviction by
// last use, and a directory that others share: its tag, links planted in it,
// FIFOs, and a lock held by someone else.
#include "cache/local_store.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

#include <gtest/gtest.h>
#include <lz4.h>
#include <lz4hc.h>

#include "archive/lz4_block_reader.h"
#include "cache/compression_cache.h"
#include "records/record_file.h"
#include "runtime/cache_warnings.h"
#include "runtime/warning_log.h"
#include "store/cache_entry.h"
#include "support/run_tool.h"
#include "support/temp_dir.h"
#include "support/test_data.h"

namespace zelkor {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

Bytes ToBytes(const std::string& text)
{
    return Bytes(text.begin(), text.end());
}

CacheKey KeyOf(const Bytes& raw)
{
    std::uint32_t hash = 0;
    return CacheKey::Of(raw, hash);
}

Bytes Compress(const Bytes& raw)
{
    Bytes block(static_cast<std::size_t>(LZ4_compressBound(static_cast<int>(raw.size()))));
    const int size = LZ4_compress_HC(reinterpret_cast<const char*>(raw.data()), reinterpret_cast<char*>(block.data()),
                                     static_cast<int>(raw.size()), static_cast<int>(block.size()), LZ4HC_CLEVEL_DEFAULT);
    block.resize(static_cast<std::size_t>(size));
    return block;
}

// Every regular file below `root`, as paths relative to it.
std::vector<std::string> FilesBelow(const fs::path& root)
{
    std::vector<std::string> files;
    for (const auto& item : fs::recursive_directory_iterator(root))
        if (item.is_regular_file() || item.is_fifo())
            files.push_back(fs::relative(item.path(), root).string());
    std::sort(files.begin(), files.end());
    return files;
}

class LocalStoreTest : public ::testing::Test {
protected:
    LocalStoreTest() : log_(messages_) {}

    // The cache in dir_/cache, opened as a run opens it; false when it cannot be.
    bool Open(std::uint64_t capacity = 1 << 20, std::chrono::milliseconds lockWait = LocalStore::DefaultLockWait)
    {
        std::unique_ptr<LocalStore> store = LocalStore::Open(Path(), {capacity, lockWait});
        if (!store)
            return false;
        cache_ = std::make_unique<CompressionCache>(std::move(store), problems_);
        return true;
    }
    std::string Path() const { return (dir_ / "cache").string(); }

    // Looks `raw` up; the block found (empty when compression did not pay), or
    // nothing on a miss.
    std::optional<Bytes> Find(const Bytes& raw)
    {
        CompressionCache::Hit hit;
        const auto outcome = cache_->Find(KeyOf(raw), raw, [&](std::size_t size) {
            buffer_.resize(size);
            return std::span(buffer_);
        }, reader_, hit);
        if (outcome != CompressionCache::Outcome::Hit)
            return std::nullopt;
        return Bytes(hit.block.begin(), hit.block.end());
    }

    void Store(const Bytes& raw, const Bytes& block) { cache_->Store(KeyOf(raw), raw.size(), block); }

    fs::path EntryOf(const Bytes& raw) const
    {
        const std::string hex = KeyOf(raw).Hex();
        return dir_ / "cache" / hex.substr(0, 2) / hex;
    }

    testing::TempDir dir_;
    std::ostringstream messages_;
    WarningLog log_;
    CacheWarnings problems_{log_};
    std::unique_ptr<CompressionCache> cache_;
    Lz4BlockReader reader_;
    Bytes buffer_;
};

TEST_F(LocalStoreTest, EntriesRoundTrip)
{
    ASSERT_TRUE(Open());
    const Bytes compressible = ToBytes(std::string(1000, 'a'));
    const Bytes noise = ToBytes(testing::RandomBytes(1000, 1));
    EXPECT_FALSE(Find(compressible));
    Store(compressible, Compress(compressible));
    Store(noise, {});
    EXPECT_EQ(Find(compressible), Compress(compressible));
    EXPECT_EQ(Find(noise), Bytes{});  // a hit: compression did not pay
    cache_->Flush();

    const auto statistics = LocalStore::Inspect(Path());
    ASSERT_TRUE(statistics);
    EXPECT_EQ(statistics->entries, 2u);
    EXPECT_EQ(statistics->counters.hits, 2u);
    EXPECT_EQ(statistics->counters.misses, 1u);
    EXPECT_EQ(statistics->counters.savedBytes, 2000u);
    ASSERT_EQ(LocalStore::Clear(Path(), true, LocalStore::DefaultLockWait), LocalStore::Reset::Done);
    EXPECT_EQ(LocalStore::Inspect(Path())->entries, 0u);
    EXPECT_EQ(LocalStore::Inspect(Path())->counters.hits, 0u);
    EXPECT_TRUE(messages_.str().empty());
    // Only the tag, the counters and the buckets' sizes are left: no probe, no
    // temporary file.
    for (const std::string& file : FilesBelow(dir_ / "cache"))
        EXPECT_TRUE(file == "CACHEDIR.TAG" || file == "stats" || (file.size() == 8 && file.substr(2) == "/.size"))
            << file;
}

TEST_F(LocalStoreTest, ACacheIsItsOwnersUnlessMadeGroupSharedOnPurpose)
{
    // The cache holds the sources' bytes unencrypted: another user must not read
    // a 0600 file of a 0700 directory back out of it.
    const mode_t mask = ::umask(022);
    struct Case {
        const char* what;
        std::optional<unsigned> made;  // the cache directory's bits, made before the run; none: made by it
        unsigned directory, bucket, files;
    };
    const Case cases[] = {
        {"made by the tool", std::nullopt, 0700, 0700, 0600},
        {"made by an earlier version", 0755, 0755, 0700, 0600},
        // Shared on purpose: the set-group-ID bit, and the group's bits whatever
        // the mask (022) would take; never the sticky bit in a bucket.
        {"group-shared", 02770, 02770, 02770, 0660},
        {"group-shared, readable by all", 03775, 03775, 02775, 0664},
    };
    const Bytes raw = ToBytes(std::string(3000, 'p'));
    for (const Case& c : cases) {
        fs::remove_all(dir_ / "cache");
        if (c.made) {
            fs::create_directory(dir_ / "cache");
            ASSERT_EQ(::chmod(Path().c_str(), *c.made), 0);
        }
        ASSERT_TRUE(Open()) << c.what;
        Store(raw, Compress(raw));
        EXPECT_TRUE(Find(raw)) << c.what;
        cache_->Flush();
        LocalStore::Open(Path(), {})->RecordRemote("http://host", {});
        const auto bits = [](const fs::path& path) {
            struct stat info {};
            EXPECT_EQ(::stat(path.c_str(), &info), 0) << path;
            return static_cast<unsigned>(info.st_mode & 07777);
        };
        EXPECT_EQ(bits(dir_ / "cache"), c.directory) << c.what;
        EXPECT_EQ(bits(EntryOf(raw).parent_path()), c.bucket) << c.what;
        for (const std::string& file : FilesBelow(dir_ / "cache"))
            EXPECT_EQ(bits(dir_ / "cache" / file), c.files) << c.what << ": " << file;
        cache_.reset();
    }
    // The records of sources and builds are the user's own in a shared cache too.
    {
        const Directory root = *Directory::Open(Path());
        ASSERT_TRUE(RecordFile::Write(root, "sources", 0x53534B5A, Bytes(4, 0)));
        struct stat info {};
        ASSERT_EQ(::stat((dir_ / "cache" / "sources").c_str(), &info), 0);
        EXPECT_EQ(info.st_mode & 07777, 0600u);
    }
    // A group-shared cache keeps its group in what is made below it.
    if (::geteuid() == 0) {
        fs::remove_all(dir_ / "cache");
        fs::create_directory(dir_ / "cache");
        ASSERT_EQ(::chown(Path().c_str(), static_cast<uid_t>(-1), 4242), 0);
        ASSERT_EQ(::chmod(Path().c_str(), 02770), 0);
        ASSERT_TRUE(Open());
        Store(raw, Compress(raw));
        struct stat info {};
        ASSERT_EQ(::stat(EntryOf(raw).c_str(), &info), 0);
        EXPECT_EQ(info.st_gid, 4242u);
        ASSERT_EQ(::stat(EntryOf(raw).parent_path().c_str(), &info), 0);
        EXPECT_EQ(info.st_gid, 4242u);
    }
    ::umask(mask);
}

TEST_F(LocalStoreTest, DamagedEntriesAreMissesAndGo)
{
    ASSERT_TRUE(Open());
    const Bytes raw = ToBytes(testing::CompressibleText(5000, 2));
    const Bytes block = Compress(raw);
    // One byte flipped anywhere (magic, version, key, sizes, flags, checksum,
    // block), or the entry cut short or made longer: a miss, and the file goes.
    for (const std::size_t at : {0u, 4u, 8u, 40u, 48u, 56u, 60u, 64u, 72u, 76u, 1000u}) {
        Store(raw, block);
        std::string bytes = testing::ReadFile(EntryOf(raw));
        bytes[at] ^= 0x01;
        testing::WriteFile(EntryOf(raw), bytes);
        EXPECT_FALSE(Find(raw)) << at;
        EXPECT_FALSE(fs::exists(EntryOf(raw))) << at;
    }
    for (const int change : {-1, 1}) {
        Store(raw, block);
        fs::resize_file(EntryOf(raw), fs::file_size(EntryOf(raw)) + change);
        EXPECT_FALSE(Find(raw)) << change;
        EXPECT_FALSE(fs::exists(EntryOf(raw)));
    }
    // Counted, and named once.
    cache_->Flush();
    EXPECT_EQ(LocalStore::Inspect(Path())->counters.damaged, 13u);
    const std::string line = "Cache " + Path() + " held a damaged entry " + KeyOf(raw).Hex() + "!\n";
    EXPECT_EQ(messages_.str(), line);
}

TEST_F(LocalStoreTest, TheLeastRecentlyUsedEntriesGoFirst)
{
    // A cap of 1 MiB gives each of the 256 directories 4 KiB, of which they
    // keep 90%; four entries of a little over 1 KiB in directory 00 pass that,
    // three do not.
    ASSERT_TRUE(Open());
    std::vector<Bytes> inBucket;
    for (unsigned seed = 0; inBucket.size() < 4; ++seed) {
        const Bytes raw = ToBytes(testing::CompressibleText(1100 + seed % 100, seed));
        const std::size_t entry = CacheEntry::HeaderSize + Compress(raw).size();
        if (KeyOf(raw).Bucket() == 0 && entry > 1024 && entry < 1200)
            inBucket.push_back(raw);
    }
    for (std::size_t i = 0; i < 3; ++i) {
        Store(inBucket[i], Compress(inBucket[i]));
        // Last used three, two and one and a half hours ago (a use within the last
        // hour is not recorded again).
        const auto ago = std::chrono::seconds(10800 - 3600 * static_cast<int>(i) - (i == 2 ? 1800 : 0));
        fs::last_write_time(EntryOf(inBucket[i]), fs::file_time_type::clock::now() - ago);
    }
    cache_->Flush();
    ASSERT_TRUE(Find(inBucket[0]));  // used now
    Store(inBucket[3], Compress(inBucket[3]));
    cache_->Flush();
    // Over its share, the directory drops the entry used longest ago, and only it.
    EXPECT_TRUE(Find(inBucket[0]));
    EXPECT_FALSE(Find(inBucket[1]));
    EXPECT_TRUE(Find(inBucket[2]));
    EXPECT_TRUE(Find(inBucket[3]));
}

// --- A directory shared with others ---------------------------------------------------

TEST_F(LocalStoreTest, ACacheIsRecognisedByItsTag)
{
    // Made fresh, a cache is tagged as the convention says.
    ASSERT_TRUE(Open());
    EXPECT_EQ(testing::ReadFile(dir_ / "cache" / "CACHEDIR.TAG").rfind("Signature: 8a477f597d28d172789f06886806bc55\n", 0),
              0u);
    // A cache of an earlier version (entries, counters, no tag) is taken and tagged.
    dir_.Write("old/3f/" + std::string(64, 'a'), "entry");
    dir_.Write("old/stats", std::string(24, '\0'));
    dir_.Write("old/.probe.zelkor-123", "");
    EXPECT_TRUE(LocalStore::Open((dir_ / "old").string(), {}));
    EXPECT_TRUE(fs::exists(dir_ / "old" / "CACHEDIR.TAG"));
    // A directory that holds anything else is no cache, and nothing is written
    // there; nor is one whose tag lacks the signature.
    dir_.Write("home/notes.txt", "mine");
    dir_.Write("home/3f/" + std::string(64, 'b'), "not an entry");
    dir_.Write("fake/CACHEDIR.TAG", "Signature: nothing of the kind");
    for (const char* other : {"home", "fake"}) {
        const std::vector<std::string> before = FilesBelow(dir_ / other);
        EXPECT_FALSE(LocalStore::Open((dir_ / other).string(), {})) << other;
        EXPECT_FALSE(LocalStore::Inspect((dir_ / other).string())) << other;
        for (const bool entries : {false, true})
            EXPECT_EQ(LocalStore::Clear((dir_ / other).string(), entries, LocalStore::DefaultLockWait),
                      LocalStore::Reset::NotACache);
        EXPECT_EQ(FilesBelow(dir_ / other), before) << other;
    }
}

TEST_F(LocalStoreTest, NothingOutsideTheCacheIsWrittenOrDeleted)
{
    // Buckets that are links to elsewhere: one to a directory of 64-hex-named
    // files, one dangling. Nothing is created, read or deleted through them.
    ASSERT_TRUE(Open(256 * 1024));
    const fs::path elsewhere = dir_ / "elsewhere";
    std::vector<Bytes> sources;
    for (unsigned seed = 0; sources.size() < 2; ++seed) {
        const Bytes raw = ToBytes(testing::CompressibleText(20'000, seed));
        if (KeyOf(raw).Bucket() == 0x00 && sources.empty())
            sources.push_back(raw);
        else if (KeyOf(raw).Bucket() == 0x01 && sources.size() == 1)
            sources.push_back(raw);
    }
    dir_.Write("elsewhere/" + KeyOf(sources[0]).Hex(), testing::ReadFile(dir_ / "cache" / "CACHEDIR.TAG"));
    dir_.Write("elsewhere/" + std::string(64, 'c'), std::string(5000, 'x'));
    fs::create_directory_symlink(elsewhere, dir_ / "cache" / "00");
    fs::create_directory_symlink(dir_ / "nowhere", dir_ / "cache" / "01");
    const std::vector<std::string> before = FilesBelow(elsewhere);

    EXPECT_FALSE(Find(sources[0]));
    Store(sources[0], Compress(sources[0]));
    EXPECT_EQ(messages_.str(), "Cannot use cache " + Path() + "!\n");
    EXPECT_FALSE(Find(sources[1]));
    cache_->Flush();
    EXPECT_EQ(FilesBelow(elsewhere), before);
    EXPECT_FALSE(fs::exists(dir_ / "nowhere"));
    // Counting and clearing the cache pass them by too.
    EXPECT_EQ(LocalStore::Inspect(Path())->entries, 0u);
    EXPECT_EQ(LocalStore::Clear(Path(), true, LocalStore::DefaultLockWait), LocalStore::Reset::Done);
    EXPECT_EQ(FilesBelow(elsewhere), before);
}

TEST_F(LocalStoreTest, ALockHeldByAnotherIsWaitedForOnlySoLong)
{
    ASSERT_TRUE(Open(1 << 20, std::chrono::milliseconds(200)));
    const Bytes raw = ToBytes(testing::CompressibleText(5000, 9));
    EXPECT_FALSE(Find(raw));
    Store(raw, Compress(raw));
    // Someone else holds the counters' lock and never lets go.
    const std::string stats = (dir_ / "cache" / "stats").string();
    const int held = ::open(stats.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    ASSERT_GE(held, 0);
    ASSERT_EQ(::flock(held, LOCK_EX), 0);
    const auto start = std::chrono::steady_clock::now();
    cache_->Flush();
    const auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_GE(waited, std::chrono::milliseconds(200));
    EXPECT_LT(waited, std::chrono::seconds(5));
    // The counters of this run are left out, and that is all: no warning, and
    // the entry is there.
    EXPECT_EQ(messages_.str(), "");
    EXPECT_EQ(LocalStore::Inspect(Path())->counters.misses, 0u);
    EXPECT_TRUE(Find(raw));
    ::close(held);
    // Clearing waits as long, then says it could not.
    const int again = ::open(stats.c_str(), O_RDWR | O_CLOEXEC);
    ASSERT_EQ(::flock(again, LOCK_EX), 0);
    EXPECT_EQ(LocalStore::Clear(Path(), false, std::chrono::milliseconds(100)), LocalStore::Reset::Failed);
    ::close(again);
}

TEST_F(LocalStoreTest, FifosInTheCacheAreNeverWaitedOn)
{
    ASSERT_TRUE(Open());
    const Bytes raw = ToBytes(testing::CompressibleText(5000, 10));
    // A FIFO where an entry, a bucket's size and the counters go.
    fs::create_directories(EntryOf(raw).parent_path());
    ASSERT_EQ(::mkfifo(EntryOf(raw).c_str(), 0666), 0);
    ASSERT_EQ(::mkfifo((EntryOf(raw).parent_path() / ".size").c_str(), 0666), 0);
    ASSERT_EQ(::mkfifo((dir_ / "cache" / "stats").c_str(), 0666), 0);
    EXPECT_FALSE(Find(raw));
    Store(raw, Compress(raw));  // renamed over the FIFO
    EXPECT_TRUE(Find(raw));
    cache_->Flush();
    EXPECT_EQ(messages_.str(), "Cannot use cache " + Path() + "!\n");
}

TEST(LocalStoreRunTest, FifosAtTheNamesOfEarlierProbesHangNothing)
{
    // An earlier version proved the directory writable with a file named after
    // its process id, which anyone could have made a FIFO first. Such FIFOs, for
    // the next process ids to come, change nothing now.
    testing::TempDir dir;
    dir.Write("src/a", testing::CompressibleText(3000, 1));
    dir.Write("s.xml", "<ScriptFile><CreateOrvanPack ArchivePath=\"a.pak\">"
                       "<File ArchivedPath=\"a\">src/a</File></CreateOrvanPack></ScriptFile>");
    const auto run = [&] {
        return testing::RunProgram("/usr/bin/env", {"ZELKOR_CACHE_DIR=cache", ZELKOR_BINARY, "s.xml"}, dir.path());
    };
    ASSERT_EQ(run().status, 0);
    int next = 0;
    std::ifstream("/proc/sys/kernel/ns_last_pid") >> next;
    for (int pid = next + 1; pid <= next + 64; ++pid)
        ASSERT_EQ(::mkfifo((dir / "cache" / (".probe.zelkor-" + std::to_string(pid))).c_str(), 0666), 0);
    const testing::ToolRun again = run();
    EXPECT_EQ(again.status, 0) << again.err;
}

}  // namespace
}  // namespace zelkor
