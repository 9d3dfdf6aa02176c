// Loading, hashing and compressing one source file.
#include "pack/file_job.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <thread>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <lz4.h>
#include <lz4hc.h>
#include <xxhash.h>

#include "archive/archive_format.h"
#include "cache/compression_cache.h"
#include "cache/local_store.h"
#include "platform/directory.h"
#include "platform/file.h"
#include "runtime/cache_warnings.h"
#include "runtime/warning_log.h"
#include "support/file_times.h"
#include "support/resident_pages.h"
#include "support/temp_dir.h"
#include "support/test_data.h"

namespace zelkor {
namespace {

using testing::RandomBytes;

using testing::ResidentPages;
using testing::TempDir;

class FileJobTest : public ::testing::Test {
protected:
    // Loads a file holding `content`; fails the test when Load fails.
    void LoadContent(const std::string& content)
    {
        loaded_ = job_.Load(dir_.Write("source", content).string());
        ASSERT_TRUE(loaded_);
    }

    std::string Stored() const
    {
        return std::string(reinterpret_cast<const char*>(loaded_->stored.data()), loaded_->stored.size());
    }

    // The raw bytes that the stored bytes stand for.
    std::string Unstored() const
    {
        if (!loaded_->IsCompressed())
            return Stored();
        std::string raw(loaded_->rawSize, '\0');
        const int got = LZ4_decompress_safe(reinterpret_cast<const char*>(loaded_->stored.data()),
                                            raw.data(), static_cast<int>(loaded_->stored.size()),
                                            static_cast<int>(raw.size()));
        EXPECT_EQ(got, static_cast<int>(raw.size()));
        return raw;
    }

    // Checks every invariant of a successful load of `content`.
    void ExpectLoaded(const std::string& content)
    {
        ASSERT_TRUE(loaded_);
        EXPECT_EQ(loaded_->rawSize, content.size());
        EXPECT_LE(loaded_->stored.size(), loaded_->rawSize);
        EXPECT_EQ(loaded_->contentHash, XXH32(content.data(), content.size(), ArchiveMagic));
        EXPECT_TRUE(Unstored() == content);
    }

    void ExpectRefused(const std::string& path) { EXPECT_FALSE(job_.Load(path)) << path; }

    TempDir dir_;
    FileJob job_;
    std::optional<LoadedFile> loaded_;
};

TEST_F(FileJobTest, SmallFilesAreStoredRaw)
{
    LoadContent("");
    ExpectLoaded("");
    EXPECT_EQ(loaded_->stored.size(), 0u);
    EXPECT_EQ(loaded_->contentHash, 0x40C34F51u);

    LoadContent("Q");
    ExpectLoaded("Q");
    EXPECT_EQ(Stored(), "Q");
}

TEST_F(FileJobTest, CompressibleFilesAreCompressed)
{
    const std::string zeros(100000, '\0');
    LoadContent(zeros);
    ExpectLoaded(zeros);
    EXPECT_LT(loaded_->stored.size(), 1000u);
    EXPECT_EQ(loaded_->contentHash, 0x30AF4CF2u);
}

TEST_F(FileJobTest, AReusedJobCompressesEachFileAsAFreshCompressionWould)
{
    // The working state is reused without clearing its tables; no match may reach
    // into an earlier file, not even one with the very same content.
    const std::string text = testing::CompressibleText(300000, 3);
    const std::vector<std::string> files = {
        text, text, text.substr(1000, 50000), std::string(70000, 'x'), RandomBytes(20000, 4),
        text.substr(0, 10), text.substr(5, 200000), testing::CompressibleText(3000, 9), text,
    };
    for (std::size_t i = 0; i < files.size(); ++i) {
        LoadContent(files[i]);
        std::vector<char> fresh(static_cast<std::size_t>(LZ4_compressBound(static_cast<int>(files[i].size()))));
        const int size = LZ4_compress_HC(files[i].data(), fresh.data(), static_cast<int>(files[i].size()),
                                         static_cast<int>(fresh.size()), LZ4HC_CLEVEL_DEFAULT);
        if (static_cast<std::uint64_t>(size) >= files[i].size())
            continue;  // stored raw either way
        ASSERT_EQ(loaded_->stored.size(), static_cast<std::size_t>(size)) << i;
        EXPECT_EQ(std::memcmp(loaded_->stored.data(), fresh.data(), loaded_->stored.size()), 0) << i;
    }
}

TEST_F(FileJobTest, IncompressibleFilesAreStoredRaw)
{
    const std::string random = RandomBytes(100000, 7);
    LoadContent(random);
    ExpectLoaded(random);
    EXPECT_FALSE(loaded_->IsCompressed());
}

TEST_F(FileJobTest, ALaterShorterFileIsDescribedAlone)
{
    LoadContent(RandomBytes(5000, 1));
    LoadContent("short");
    ExpectLoaded("short");
}

TEST_F(FileJobTest, AFileThatShrankIsTakenAsFarAsItCouldBeRead)
{
    LoadContent(std::string(5000, 'x'));
    // The file claims 5000 bytes (as when it was cut after its size was taken)
    // but holds 3: nothing of the earlier file's bytes may be taken for its own.
    File source = File::Open(dir_.Write("shrunk", "abc").string(), OpenFlags::Read);
    loaded_ = job_.LoadFrom(source, 5000);
    ExpectLoaded("abc");
}

TEST_F(FileJobTest, BuffersFollowTheFiles)
{
    // Small files keep the buffers small: no reservation for files never seen.
    LoadContent(std::string(1000, 'a'));
    EXPECT_LT(job_.rawBytes.size() + job_.storedBytes.size(), 1u << 20);

    // Compressible, with a distinct last byte well beyond the kept capacity. Large
    // files come from a mapping; read the ordinary way (it seemed small when its
    // size was taken), it makes the buffer grow.
    std::string large(FileJobCapacity + FileJobCapacity / 8, '\0');
    large.back() = 'Z';
    LoadContent(large);
    ExpectLoaded(large);
    EXPECT_TRUE(loaded_->IsCompressed());
    File source = File::Open((dir_ / "source").string(), OpenFlags::Read);
    loaded_ = job_.LoadFrom(source, 1000);
    ExpectLoaded(large);
    EXPECT_GE(job_.rawBytes.size(), large.size());

    // Released, buffers grown beyond the kept capacity are freed; loading goes on.
    job_.ReleaseMemory(0);
    EXPECT_EQ(job_.rawBytes.size(), 0u);
    LoadContent("small");
    ExpectLoaded("small");
}

TEST_F(FileJobTest, FilesAreReadToTheirEnd)
{
    // Files whose size the system reports as 0 still have content.
    loaded_ = job_.Load("/proc/self/status");
    ASSERT_TRUE(loaded_);
    EXPECT_NE(Unstored().find("Name:"), std::string::npos);

    // A file that grew after its size was taken is read whole, across buffer
    // growth; also one large enough to be mapped.
    for (const std::uint64_t seen : {10u, 300000u}) {
        const std::string content = RandomBytes(600000, 8);
        File source = File::Open(dir_.Write("grown", content).string(), OpenFlags::Read);
        loaded_ = job_.LoadFrom(source, seen);
        ExpectLoaded(content);
    }
}

TEST_F(FileJobTest, AFullBufferOfNoiseIsStoredRaw)
{
    // LZ4's output for this exceeds the output buffer, which counts as not smaller.
    const std::string random = RandomBytes(FileJobCapacity, 3);
    LoadContent(random);
    EXPECT_EQ(loaded_->rawSize, FileJobCapacity);
    EXPECT_FALSE(loaded_->IsCompressed());
    EXPECT_TRUE(Unstored() == random);
}

TEST_F(FileJobTest, ReleasingMemoryKeepsOnlyTheFirstBytesResident)
{
    constexpr std::size_t kept = 1024 * 1024;
    const std::string random = RandomBytes(8 * kept, 5);
    // Read the ordinary way, as a file whose size was taken small.
    File source = File::Open(dir_.Write("source", random).string(), OpenFlags::Read);
    loaded_ = job_.LoadFrom(source, 0);
    EXPECT_GT(ResidentPages(job_.rawBytes.data() + kept, 7 * kept), 0u);
    EXPECT_GT(ResidentPages(job_.storedBytes.data() + kept, 7 * kept), 0u);

    job_.ReleaseMemory(kept);
    EXPECT_EQ(ResidentPages(job_.rawBytes.data() + kept, 7 * kept), 0u);
    EXPECT_EQ(ResidentPages(job_.storedBytes.data() + kept, 7 * kept), 0u);
    // The kept part is untouched; the job loads as before.
    EXPECT_TRUE(std::memcmp(job_.rawBytes.data(), random.data(), 4096) == 0);
    LoadContent(random);
    ExpectLoaded(random);
}

// --- Sources that change while they are read ----------------------------------------

// Rewrites the file at `path` in place with `content` of the same size, as an
// editor or a build step writing into the file would.
void RewriteInPlace(const std::string& path, const std::string& content)
{
    File file = File::Open(path, OpenFlags::Write);
    ASSERT_TRUE(file.IsOpen());
    ASSERT_TRUE(file.WriteAll(content.data(), content.size()));
}

TEST_F(FileJobTest, AMappedSourceRewrittenBetweenItsPassesIsTakenAgain)
{
    // Large enough to be mapped; compressed, or stored raw (then the copy is
    // what could differ from what was hashed).
    for (const bool compressible : {true, false}) {
        const std::string first = compressible ? testing::CompressibleText(600'000, 1) : RandomBytes(600'000, 1);
        std::string second = first;
        second[300'000] ^= 0x01;
        const std::string path = dir_.Write("mapped", first).string();
        int passes = 0;
        job_.BetweenPasses([&] {
            if (passes++ == 0)
                RewriteInPlace(path, second);
        });
        loaded_ = job_.Load(path);
        ExpectLoaded(second);
        EXPECT_EQ(loaded_->IsCompressed(), compressible);
        EXPECT_EQ(passes, 2);

        // Rewritten between the passes every time: left out.
        bool isFirst = false;
        job_.BetweenPasses([&] {
            isFirst = !isFirst;
            RewriteInPlace(path, isFirst ? first : second);
        });
        EXPECT_FALSE(job_.Load(path)) << compressible;
        job_.BetweenPasses(nullptr);
    }
}

TEST_F(FileJobTest, AChangingSourceNeverReachesTheCache)
{
    std::ostringstream messages;
    WarningLog log(messages);
    CacheWarnings problems(log);
    CompressionCache cache(LocalStore::Open((dir_ / "cache").string(), {}), problems);
    FileJob job(&cache);
    const std::string first = testing::CompressibleText(600'000, 2);
    std::string second = first;
    second[1000] ^= 0x01;
    std::string third = first;
    third[2000] ^= 0x01;
    const std::string path = dir_.Write("mapped", first).string();
    const auto entries = [&] { return LocalStore::Inspect((dir_ / "cache").string())->entries; };

    // Changed twice: nothing stored.
    int passes = 0;
    job.BetweenPasses([&] { RewriteInPlace(path, passes++ % 2 ? first : second); });
    EXPECT_FALSE(job.Load(path));
    EXPECT_EQ(entries(), 0u);
    // Changed once: stored as it was read the second time, under its own key.
    passes = 0;
    job.BetweenPasses([&] {
        if (passes++ == 0)
            RewriteInPlace(path, second);
    });
    ASSERT_TRUE(job.Load(path));
    EXPECT_EQ(entries(), 1u);
    job.BetweenPasses(nullptr);
    loaded_ = job.Load(path);
    ExpectLoaded(second);
    EXPECT_EQ(cache.Counted().hits, 1u);

    // Changed while a hit is checked: the entry is good and stays, the source
    // is taken again (a miss, and its new form stored).
    passes = 0;
    job.BetweenPasses([&] {
        if (passes++ == 0)
            RewriteInPlace(path, third);
    });
    loaded_ = job.Load(path);
    ExpectLoaded(third);
    EXPECT_EQ(entries(), 2u);
    EXPECT_EQ(cache.Counted().damaged, 0u);
    EXPECT_EQ(messages.str(), "");
}

// --- Sources trusted by their status records ------------------------------------------

// A job over a local cache that keeps status records; `settle` as StatusRecords
// takes it (0: a source is recorded however recently it changed).
class TrustedSourceTest : public FileJobTest {
protected:
    void Open(std::int64_t settle, bool rehash = false)
    {
        job_ = FileJob();
        cache_.reset();
        root_.reset();
        cache_ = std::make_unique<CompressionCache>(LocalStore::Open((dir_ / "cache").string(), {}), problems_);
        root_ = Directory::Open((dir_ / "cache").string());
        ASSERT_TRUE(root_);
        CacheSettings settings;
        settings.rehash = rehash;
        cache_->KeepRecords(*root_, settings, settle);
        job_ = FileJob(cache_.get());
        job_.BetweenPasses([this] { ++passes_; });
    }

    // Loads `path` and checks it holds `content`; how many times a mapped
    // source was read through goes to passes_.
    void Load(const std::string& path, const std::string& content)
    {
        passes_ = 0;
        loaded_ = job_.Load(path);
        ExpectLoaded(content);
    }

    std::ostringstream messages_;
    WarningLog log_{messages_};
    CacheWarnings problems_{log_};
    std::unique_ptr<CompressionCache> cache_;
    std::optional<Directory> root_;
    int passes_ = 0;
};

TEST_F(TrustedSourceTest, ASourceWhoseStatusMatchesItsRecordIsNotReadAgain)
{
    Open(0);
    const std::string text = testing::CompressibleText(600'000, 4);
    const std::string noise = RandomBytes(600'000, 4);
    const std::string small = testing::CompressibleText(3000, 4);
    const std::string textPath = dir_.Write("text", text).string();
    const std::string noisePath = dir_.Write("noise", noise).string();
    const std::string smallPath = dir_.Write("small", small).string();
    Load(textPath, text);
    EXPECT_EQ(passes_, 1);
    Load(noisePath, noise);
    Load(smallPath, small);
    EXPECT_EQ(cache_->Sources()->Size(), 3u);

    // The block comes from the cache, proven by its key; the source is not read.
    Load(textPath, text);
    EXPECT_EQ(passes_, 0);
    EXPECT_TRUE(loaded_->IsCompressed());
    Load(smallPath, small);
    // Stored raw: read, and only its content hash compared.
    Load(noisePath, noise);
    EXPECT_FALSE(loaded_->IsCompressed());
    EXPECT_EQ(cache_->Counted().hits, 3u);

    // Entries gone from the cache: the trusted sources are read and hashed again.
    ASSERT_EQ(LocalStore::Clear((dir_ / "cache").string(), true, std::chrono::milliseconds(100)),
              LocalStore::Reset::Done);
    Load(textPath, text);
    EXPECT_EQ(passes_, 1);
    Load(noisePath, noise);

    // With the trust turned off, every source is read.
    Open(0, true);
    Load(textPath, text);
    Load(textPath, text);
    EXPECT_EQ(passes_, 1);
    EXPECT_EQ(messages_.str(), "");
}

TEST_F(TrustedSourceTest, ASourceRewrittenWithinTheSameSecondIsReadAgain)
{
    // Rewritten in place right after it was read, with the same size and its
    // modification time set back: only its change time tells, and within the
    // file system's tick not even that. It was never recorded.
    Open(StatusRecords::DefaultSettle);
    const std::string first = testing::CompressibleText(600'000, 5);
    std::string second = first;
    second[123] ^= 0x01;
    const std::string path = dir_.Write("source", first).string();
    const testing::FileTimes times = testing::TimesOf(path);
    Load(path, first);
    EXPECT_EQ(cache_->Sources()->Size(), 0u);
    RewriteInPlace(path, second);
    testing::SetModified(path, times.modified);
    Load(path, second);
    EXPECT_EQ(passes_, 1);

    // Recorded (a settle of zero), then rewritten a tick later the same way:
    // the change time moved, and the source is read.
    Open(0);
    Load(path, second);
    ASSERT_EQ(cache_->Sources()->Size(), 1u);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    const testing::FileTimes recorded = testing::TimesOf(path);
    RewriteInPlace(path, first);
    testing::SetModified(path, recorded.modified);
    Load(path, first);
    EXPECT_EQ(passes_, 1);
}

TEST_F(TrustedSourceTest, ASourceReplacedByRenameIsReadAgain)
{
    Open(0);
    const std::string first = testing::CompressibleText(600'000, 6);
    std::string second = first;
    second[599'999] ^= 0x01;
    const std::string path = dir_.Write("source", first).string();
    Load(path, first);
    // Another file of the same size and modification time takes its name.
    const std::string replacement = dir_.Write("replacement", second).string();
    testing::SetModified(replacement, testing::TimesOf(path).modified);
    std::filesystem::rename(replacement, path);
    Load(path, second);
    EXPECT_EQ(passes_, 1);
}

// --- Sources that are refused ------------------------------------------------------

TEST_F(FileJobTest, MissingFilesAndDirectoriesAreRefused)
{
    LoadContent("something");
    ExpectRefused((dir_ / "missing").string());
    LoadContent("something");
    ExpectRefused(dir_.path().string());
    // A NUL ends the path for the system, which would read another file.
    ExpectRefused((dir_ / "source").string() + std::string(1, '\0') + ".x");
}

TEST_F(FileJobTest, ExcludedFilesAreRefusedByAnySpelling)
{
    const std::string path = dir_.Write("own", "output").string();
    const std::optional<FileStatus> status = File::Open(path, OpenFlags::Read).Status();
    ASSERT_TRUE(status);
    ASSERT_EQ(::symlink(path.c_str(), (dir_ / "link").c_str()), 0);
    for (const std::string& spelling : {path, (dir_ / "." / "own").string(), (dir_ / "link").string()})
        EXPECT_FALSE(job_.Load(spelling, {.excluded = std::span(&*status, 1)})) << spelling;
    EXPECT_TRUE(job_.Load(path));
}

TEST_F(FileJobTest, SpecialFilesAreRefusedWithoutWaiting)
{
    // A FIFO without a writer would block an ordinary open or read forever.
    const std::string fifo = (dir_ / "fifo").string();
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    ExpectRefused(fifo);

    ExpectRefused("/dev/zero");
}

}  // namespace
}  // namespace zelkor
