// Loading, hashing and compressing one source file.
#include "pack/file_job.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <lz4.h>
#include <lz4hc.h>
#include <xxhash.h>

#include "archive/archive_format.h"
#include "platform/file.h"
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
