// The reader library through its C interface, as a game calls it: every status
// a caller can switch on, names found through their case and separator
// variants, positioned reads, allocator hooks, and many threads on one archive.
#include "zelkor/zelkor.h"
#include "zelkor/zelkor.hpp"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "archive/archive_writer.h"
#include "output/commit_record.h"
#include "pack/file_job.h"
#include "platform/file_system.h"
#include "support/temp_dir.h"
#include "library/library_sources.h"
#include "support/test_data.h"

namespace zelkor {
namespace {

using testing::TempDir;

using testing::Source;

// A compressed text, one stored raw, an empty one, and a large one of each
// kind, so that both the single-read path and the streaming path are taken.
std::vector<Source> Sources()
{
    return {{"Textures/Hero.PNG", testing::CompressibleText(3000, 1)},
            {"sounds\\step.ogg", testing::RandomBytes(5000, 2)},
            {"empty.txt", ""},
            {"levels/big.map", testing::CompressibleText(600000, 3)},
            {"movies/intro.bik", testing::RandomBytes(300000, 4)}};
}

class ZelkorApiTest : public ::testing::Test {
protected:
    void SetUp() override { Build(Path("game.pak"), Path("game.pak.zlk"), Sources()); }

    void TearDown() override { zlk_close(archive_); }

    std::string Path(const std::string& name) const { return (dir_ / name).string(); }

    void Build(const std::string& archive, const std::string& key, const std::vector<Source>& sources)
    {
        FileJob job;
        ArchiveWriter writer;
        ASSERT_TRUE(writer.Create(archive, &key));
        for (const Source& source : sources) {
            std::optional<LoadedFile> loaded = job.Load(dir_.Write("source", source.content).string());
            ASSERT_TRUE(loaded);
            ASSERT_TRUE(writer.AddFile(source.name, *loaded));
        }
        writer.Close();
    }

    // Windows keeps a file that is open from being rewritten: an archive is
    // closed before its file changes.
    void Close()
    {
        zlk_close(archive_);
        archive_ = nullptr;
    }

    zlk_status Open(const char* key = "game.pak.zlk")
    {
        Close();
        const std::string keyPath = key ? Path(key) : std::string();
        return zlk_open(Path("game.pak").c_str(), key ? keyPath.c_str() : nullptr, &archive_, &error_);
    }

    std::string ReadWhole(std::uint64_t index, zlk_status expected = ZLK_OK)
    {
        zlk_entry entry;
        EXPECT_EQ(zlk_entry_at(archive_, index, &entry), ZLK_OK);
        std::string content(entry.raw_size, '\0');
        EXPECT_EQ(zlk_read(archive_, index, content.data(), content.size(), &error_), expected) << error_.message;
        return content;
    }

    TempDir dir_;
    zlk_archive* archive_ = nullptr;
    zlk_error error_{};
};

TEST_F(ZelkorApiTest, FindsEveryEntryByPathAndReadsItBack)
{
    ASSERT_EQ(Open(), ZLK_OK) << error_.message;
    const std::vector<Source> sources = Sources();
    ASSERT_EQ(zlk_entry_count(archive_), sources.size());
    EXPECT_TRUE(zlk_has_names(archive_));
    for (const Source& source : sources) {
        // The path as written, lowered, raised, and with either separator.
        std::string variants[5] = {source.name, source.name, source.name, source.name, source.name};
        std::transform(variants[1].begin(), variants[1].end(), variants[1].begin(), ::tolower);
        std::transform(variants[2].begin(), variants[2].end(), variants[2].begin(), ::toupper);
        std::replace(variants[3].begin(), variants[3].end(), '/', '\\');
        std::replace(variants[4].begin(), variants[4].end(), '\\', '/');
        for (const std::string& path : variants) {
            std::uint64_t index = 99;
            ASSERT_EQ(zlk_find(archive_, path.data(), path.size(), &index), ZLK_OK) << path;
            zlk_entry entry;
            ASSERT_EQ(zlk_entry_at(archive_, index, &entry), ZLK_OK);
            EXPECT_EQ(std::string(entry.name, entry.name_length), source.name);
            EXPECT_EQ(entry.name[entry.name_length], '\0');
            EXPECT_EQ(entry.name_hash, zlk_name_hash(path.data(), path.size()));
            EXPECT_EQ(ReadWhole(index), source.content) << path;
        }
    }
    std::uint64_t index = 0;
    EXPECT_EQ(zlk_find(archive_, "missing.txt", 11, &index), ZLK_NOT_FOUND);
    EXPECT_EQ(zlk_find(archive_, "Textures/Hero.PN", 16, &index), ZLK_NOT_FOUND);
}

TEST_F(ZelkorApiTest, WithoutAKeyFileEntriesAreFoundByHashAlone)
{
    // Read without its key file, the archive decrypts to noise: the key file's
    // share is part of the key. Build one that needs none.
    FileJob job;
    ArchiveWriter writer;
    ASSERT_TRUE(writer.Create(Path("game.pak"), nullptr));
    std::optional<LoadedFile> loaded = job.Load(dir_.Write("source", "content").string());
    ASSERT_TRUE(loaded && writer.AddFile("Data/File.txt", *loaded));
    writer.Close();
    ASSERT_EQ(Open(nullptr), ZLK_OK) << error_.message;
    EXPECT_FALSE(zlk_has_names(archive_));
    std::uint64_t index = 7;
    ASSERT_EQ(zlk_find(archive_, "data\\file.TXT", 13, &index), ZLK_OK);
    zlk_entry entry;
    ASSERT_EQ(zlk_entry_at(archive_, index, &entry), ZLK_OK);
    EXPECT_EQ(entry.name, nullptr);
    EXPECT_EQ(ReadWhole(index), "content");
}

TEST_F(ZelkorApiTest, StatusesACallerSwitchesOn)
{
    zlk_archive* none = reinterpret_cast<zlk_archive*>(1);
    EXPECT_EQ(zlk_open(Path("absent.pak").c_str(), nullptr, &none, &error_), ZLK_NOT_FOUND);
    EXPECT_EQ(none, nullptr);
    EXPECT_EQ(error_.status, ZLK_NOT_FOUND);
    EXPECT_EQ(zlk_open(nullptr, nullptr, &none, &error_), ZLK_MISUSE);

    ASSERT_EQ(Open(), ZLK_OK);
    // A buffer one byte short: nothing is written.
    for (std::uint64_t index : {0u, 3u, 4u}) {
        zlk_entry entry;
        ASSERT_EQ(zlk_entry_at(archive_, index, &entry), ZLK_OK);
        std::string buffer(entry.raw_size - 1, '#');
        EXPECT_EQ(zlk_read(archive_, index, buffer.data(), buffer.size(), &error_), ZLK_BUFFER_TOO_SMALL);
        EXPECT_EQ(buffer, std::string(entry.raw_size - 1, '#'));
        EXPECT_NE(std::string(error_.message).find("game.pak: entry"), std::string::npos) << error_.message;
    }
    char byte;
    EXPECT_EQ(zlk_read(archive_, 5, &byte, 1, &error_), ZLK_MISUSE);
    EXPECT_EQ(zlk_read_range(archive_, 3, 0, &byte, 1, &error_), ZLK_NOT_RAW);
    EXPECT_EQ(zlk_read_range(archive_, 1, 4999, &byte, 2, &error_), ZLK_MISUSE);
    EXPECT_STREQ(zlk_status_string(ZLK_FOREIGN_KEY_FILE), "key file of another archive");
    EXPECT_EQ(zlk_version_number(), static_cast<std::uint32_t>(ZLK_VERSION_NUMBER));
}

// Damage to one entry's stored bytes fails that entry alone; damage to the
// structure, or a key file of another archive, fails the open with a message
// that names the file and the offset.
TEST_F(ZelkorApiTest, GradedDamage)
{
    const std::string pristine = dir_.Read("game.pak");
    // Entry 3 (the large text) starts after the first three entries.
    ASSERT_EQ(Open(), ZLK_OK);
    zlk_entry entries[5];
    for (std::uint64_t i = 0; i < 5; ++i)
        ASSERT_EQ(zlk_entry_at(archive_, i, &entries[i]), ZLK_OK);
    std::uint64_t offset = 68;
    for (int i = 0; i < 3; ++i)
        offset += 20 + entries[i].stored_size;
    std::string damaged = pristine;
    damaged[offset + 20 + entries[3].stored_size / 2] ^= 0x40;
    Close();
    dir_.Write("game.pak", damaged);
    ASSERT_EQ(Open(), ZLK_OK);
    ReadWhole(3, ZLK_ENTRY_DAMAGED);
    EXPECT_NE(std::string(error_.message).find("entry 3"), std::string::npos) << error_.message;
    for (std::uint64_t i : {0u, 1u, 2u, 4u})
        EXPECT_EQ(ReadWhole(i), Sources()[i].content) << i;

    Close();
    dir_.Write("game.pak", pristine.substr(0, pristine.size() - 10));
    EXPECT_EQ(Open(), ZLK_ARCHIVE_DAMAGED);
    EXPECT_EQ(archive_, nullptr);
    EXPECT_NE(std::string(error_.message).find("game.pak: stored bytes of the FileEntry at offset"), std::string::npos)
        << error_.message;

    dir_.Write("game.pak", pristine);
    Build(Path("other.pak"), Path("other.pak.zlk"), {{"a", "different content"}, {"b", "more of it"}});
    EXPECT_EQ(Open("other.pak.zlk"), ZLK_FOREIGN_KEY_FILE) << error_.message;
    EXPECT_NE(std::string(error_.message).find("is not the key file of"), std::string::npos) << error_.message;
}

TEST_F(ZelkorApiTest, RangesOfARawEntryFromAnyOffset)
{
    ASSERT_EQ(Open(), ZLK_OK);
    const std::string content = Sources()[4].content;
    for (auto [offset, length] : {std::pair<std::size_t, std::size_t>{0, 16}, {1, 1}, {17, 5000}, {299990, 10},
                                  {123457, 65536}, {0, 300000}}) {
        std::string out(length, '\0');
        ASSERT_EQ(zlk_read_range(archive_, 4, offset, out.data(), length, &error_), ZLK_OK) << error_.message;
        EXPECT_EQ(out, content.substr(offset, length)) << offset << "+" << length;
    }
}

// The caller's I/O, and a caller's source that fails.
struct MemoryFile {
    std::string bytes;
    int released = 0;
    bool fail = false;
};

int64_t ReadMemory(void* opaque, uint64_t offset, void* buffer, size_t length)
{
    auto* file = static_cast<MemoryFile*>(opaque);
    if (file->fail)
        return -1;
    if (offset >= file->bytes.size())
        return 0;
    const std::size_t count = std::min<std::size_t>(length, file->bytes.size() - offset);
    std::memcpy(buffer, file->bytes.data() + offset, count);
    return static_cast<int64_t>(count);
}

void Release(void* opaque)
{
    ++static_cast<MemoryFile*>(opaque)->released;
}

zlk_source SourceOf(MemoryFile& file)
{
    return {&file, file.bytes.size(), ReadMemory, Release};
}

TEST_F(ZelkorApiTest, SourcesOfTheCallersOwn)
{
    MemoryFile archive{dir_.Read("game.pak")};
    MemoryFile key{dir_.Read("game.pak.zlk")};
    const zlk_source archiveSource = SourceOf(archive);
    const zlk_source keySource = SourceOf(key);
    ASSERT_EQ(zlk_open_source(&archiveSource, &keySource, &archive_, &error_), ZLK_OK) << error_.message;
    std::uint64_t index = 0;
    ASSERT_EQ(zlk_find(archive_, "levels/big.map", 14, &index), ZLK_OK);
    EXPECT_EQ(ReadWhole(index), Sources()[3].content);
    archive.fail = true;
    std::string content(Sources()[3].content.size(), '\0');
    EXPECT_EQ(zlk_read(archive_, index, content.data(), content.size(), &error_), ZLK_IO);
    EXPECT_NE(std::string(error_.message).find("Cannot read archive source!"), std::string::npos) << error_.message;
    zlk_close(archive_);
    archive_ = nullptr;
    EXPECT_EQ(archive.released, 1);
    EXPECT_EQ(key.released, 1);

    // A source that fails while opening is released all the same.
    MemoryFile failing{dir_.Read("game.pak"), 0, true};
    const zlk_source failingSource = SourceOf(failing);
    zlk_open_options options = ZLK_OPEN_OPTIONS_INIT;
    options.archive_name = "pack0";
    EXPECT_EQ(zlk_open_source_with(&failingSource, nullptr, &options, &archive_, &error_), ZLK_IO);
    EXPECT_STREQ(error_.message, "Cannot read pack0!");
    EXPECT_EQ(failing.released, 1);
}

std::set<std::filesystem::path> Listing(const std::filesystem::path& directory)
{
    std::set<std::filesystem::path> names;
    for (const auto& entry : std::filesystem::directory_iterator(directory))
        names.insert(entry.path().filename());
    return names;
}

// Opening never writes; a commit left by a crashed rebuild is reported, and
// completed only when asked.
TEST_F(ZelkorApiTest, OpeningWritesNothingAndReportsAPendingCommit)
{
    const auto before = Listing(dir_.path());
    ASSERT_EQ(Open(), ZLK_OK);
    std::uint64_t index = 0;
    ASSERT_EQ(zlk_find(archive_, "empty.txt", 9, &index), ZLK_OK);
    EXPECT_EQ(Listing(dir_.path()), before);

    // A rebuild cut short after it wrote its record: the new pair still waits
    // under its temporary names.
    zlk_close(archive_);
    archive_ = nullptr;
    const std::string newArchive = ".game.pak.zelkor-AAAAAA";
    const std::string newKey = ".game.pak.zlk.zelkor-BBBBBB";
    Build(Path(newArchive), Path(newKey), {{"fresh.txt", "the new build"}});
    CommitRecord record;
    // The record knows each file by what was written, not by its name alone.
    const auto written = [&](const std::string& name) {
        return CommitRecord::Identity::Of(*StatusOf(Path(name), FollowLinks::No));
    };
    record.pairs = {{"game.pak.zlk", newKey, written(newKey)}, {"game.pak", newArchive, written(newArchive)}};
    const std::vector<std::uint8_t> bytes = record.Encode();
    dir_.Write(CommitRecord::NameFor("game.pak"), std::string(bytes.begin(), bytes.end()));
    const auto pending = Listing(dir_.path());
    EXPECT_EQ(Open(), ZLK_COMMIT_PENDING);
    EXPECT_EQ(Listing(dir_.path()), pending);

    ASSERT_EQ(zlk_complete_commit(Path("game.pak").c_str(), nullptr, &error_), ZLK_OK) << error_.message;
    ASSERT_EQ(Open(), ZLK_OK) << error_.message;
    ASSERT_EQ(zlk_find(archive_, "fresh.txt", 9, &index), ZLK_OK);
    EXPECT_EQ(ReadWhole(index), "the new build");
    EXPECT_EQ(Listing(dir_.path()), before);
}

// Hooks that count: every allocation of the archive goes through them, and
// everything is given back at close.
struct Counting {
    std::atomic<long> live{0};
    std::atomic<long> calls{0};
};

void* CountedAllocate(void* opaque, size_t size, size_t alignment)
{
    auto* counting = static_cast<Counting*>(opaque);
    ++counting->live;
    ++counting->calls;
    return ::operator new(size, std::align_val_t(alignment));
}

void CountedRelease(void* opaque, void* pointer, size_t, size_t alignment)
{
    --static_cast<Counting*>(opaque)->live;
    ::operator delete(pointer, std::align_val_t(alignment));
}

TEST_F(ZelkorApiTest, AllocatorHooksTakeTheArchivesMemory)
{
    Counting counting;
    const zlk_allocator hooks = {&counting, CountedAllocate, CountedRelease};
    zlk_open_options options = ZLK_OPEN_OPTIONS_INIT;
    options.allocator = &hooks;
    const std::string archive = Path("game.pak");
    const std::string key = Path("game.pak.zlk");
    ASSERT_EQ(zlk_open_with(archive.c_str(), key.c_str(), &options, &archive_, &error_), ZLK_OK);
    std::uint64_t index = 0;
    ASSERT_EQ(zlk_find(archive_, "empty.txt", 9, &index), ZLK_OK);
    EXPECT_GE(counting.calls.load(), 4);  // the handle, the index, the names
    EXPECT_GT(counting.live.load(), 0);
    EXPECT_LE(zlk_memory_use(archive_), 16 * zlk_entry_count(archive_) + dir_.Read("game.pak.zlk").size() +
                                            8 * zlk_entry_count(archive_));
    zlk_close(archive_);
    archive_ = nullptr;
    EXPECT_EQ(counting.live.load(), 0);
}

// Eight threads read every entry of one archive at once, finding each by name;
// run under ThreadSanitizer in CI.
TEST_F(ZelkorApiTest, EightThreadsReadOneArchive)
{
    ASSERT_EQ(Open(), ZLK_OK);
    EXPECT_EQ(testing::ReadFromThreads(archive_, Sources(), 8, 4), 0);
}

// The C++ layer: the handle closes itself, moves, and reads into a span.
TEST_F(ZelkorApiTest, TheCppLayer)
{
    zlk::Archive archive = zlk::Archive::open(Path("game.pak").c_str(), Path("game.pak.zlk").c_str());
    ASSERT_TRUE(archive);
    zlk::Archive moved = std::move(archive);
    EXPECT_FALSE(archive);
    const std::optional<std::uint64_t> index = moved.find("TEXTURES/hero.png");
    ASSERT_TRUE(index);
    const std::optional<zlk_entry> entry = moved.entry(*index);
    ASSERT_TRUE(entry);
    std::vector<std::byte> content(entry->raw_size);
    ASSERT_EQ(moved.read(*index, content), ZLK_OK);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(content.data()), content.size()), Sources()[0].content);
    EXPECT_FALSE(moved.find("absent"));
    EXPECT_EQ(zlk::name_hash("a/B"), zlk_name_hash("A\\b", 3));
    EXPECT_FALSE(zlk::Archive::open(Path("absent.pak").c_str(), nullptr));
}

}  // namespace
}  // namespace zelkor
