// The compression cache: sizes, entries that round-trip or are refused, the
// eviction of least recently used entries, and rebuilds through the archiver.
#include "cache/compression_cache.h"

#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <sstream>
#include <vector>

#include <gtest/gtest.h>

#include "platform/warning_log.h"
#include "support/archive_contents.h"
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

TEST(CompressionCacheTest, Sizes)
{
    const struct {
        const char* text;
        std::optional<std::uint64_t> size;
    } cases[] = {
        {"5G", std::uint64_t{5} << 30}, {"500M", 500u << 20}, {"64k", 64u << 10}, {"123", 123u},
        {"0", 0u}, {"", std::nullopt}, {"G", std::nullopt}, {"5GB", std::nullopt}, {"-1", std::nullopt},
        {"1.5G", std::nullopt}, {"99999999999999999999", std::nullopt}, {"17179869184G", std::nullopt},
    };
    for (const auto& c : cases)
        EXPECT_EQ(CompressionCache::ParseSize(c.text), c.size) << c.text;
}

class CompressionCacheEntryTest : public ::testing::Test {
protected:
    CompressionCacheEntryTest() : log_(messages_), cache_({dir_.path().string(), 1 << 20}, log_) {}

    // Looks `raw` up; the block found, or nothing on a miss.
    std::optional<Bytes> Find(const Bytes& raw)
    {
        std::uint32_t hash = 0;
        Bytes buffer;
        const auto found = cache_.Find(CompressionCache::KeyFor(raw, hash), raw.size(), [&](std::size_t size) {
            buffer.resize(size);
            return std::span(buffer);
        });
        if (!found)
            return std::nullopt;
        buffer.resize(found->compressed ? found->storedSize : 0);
        return buffer;
    }

    void Store(const Bytes& raw, const Bytes& block)
    {
        std::uint32_t hash = 0;
        cache_.Store(CompressionCache::KeyFor(raw, hash), raw.size(), block);
    }

    // The one entry file of the cache.
    fs::path OnlyEntry() const
    {
        std::vector<fs::path> entries;
        for (const auto& item : fs::recursive_directory_iterator(dir_.path()))
            if (item.is_regular_file() && item.path().filename().string().size() == 64)
                entries.push_back(item.path());
        EXPECT_EQ(entries.size(), 1u);
        return entries.empty() ? fs::path() : entries[0];
    }

    // The entry of directory `bucket` used last.
    fs::path NewestEntryIn(const std::string& bucket)
    {
        fs::path newest;
        fs::file_time_type newestTime = fs::file_time_type::min();
        for (const auto& item : fs::directory_iterator(dir_ / bucket)) {
            if (item.path().filename().string().size() == 64 && item.last_write_time() > newestTime) {
                newest = item.path();
                newestTime = item.last_write_time();
            }
        }
        return newest;
    }

    testing::TempDir dir_;
    std::ostringstream messages_;
    WarningLog log_;
    CompressionCache cache_;
};

TEST_F(CompressionCacheEntryTest, EntriesRoundTrip)
{
    ASSERT_TRUE(cache_.Open());
    const Bytes compressible = ToBytes(std::string(1000, 'a'));
    const Bytes noise = ToBytes(testing::RandomBytes(1000, 1));
    EXPECT_FALSE(Find(compressible));
    Store(compressible, ToBytes("block"));
    Store(noise, {});
    EXPECT_EQ(Find(compressible), ToBytes("block"));
    EXPECT_EQ(Find(noise), Bytes{});  // a hit: compression did not pay
    cache_.Flush();

    const auto statistics = CompressionCache::Inspect(dir_.path().string());
    ASSERT_TRUE(statistics);
    EXPECT_EQ(statistics->entries, 2u);
    EXPECT_EQ(statistics->hits, 2u);
    EXPECT_EQ(statistics->misses, 1u);
    EXPECT_EQ(statistics->savedBytes, 2000u);
    ASSERT_TRUE(CompressionCache::Reset(dir_.path().string(), true));
    EXPECT_EQ(CompressionCache::Inspect(dir_.path().string())->entries, 0u);
    EXPECT_EQ(CompressionCache::Inspect(dir_.path().string())->hits, 0u);
    EXPECT_TRUE(messages_.str().empty());
}

TEST_F(CompressionCacheEntryTest, DamagedEntriesAreMissesAndGo)
{
    ASSERT_TRUE(cache_.Open());
    const Bytes raw = ToBytes(std::string(5000, 'b'));
    // One byte flipped anywhere (magic, version, key, sizes, flags, checksum,
    // block), or the entry cut short or made longer: a miss, and the file goes.
    for (const std::size_t at : {0u, 4u, 8u, 40u, 48u, 56u, 64u, 72u, 76u, 1000u}) {
        Store(raw, ToBytes(std::string(1000, 'c')));
        const fs::path entry = OnlyEntry();
        std::string bytes = testing::ReadFile(entry);
        bytes[at] ^= 0x01;
        testing::WriteFile(entry, bytes);
        EXPECT_FALSE(Find(raw)) << at;
        EXPECT_FALSE(fs::exists(entry)) << at;
    }
    for (const int change : {-1, 1}) {
        Store(raw, ToBytes(std::string(1000, 'c')));
        const fs::path entry = OnlyEntry();
        fs::resize_file(entry, fs::file_size(entry) + change);
        EXPECT_FALSE(Find(raw)) << change;
        EXPECT_FALSE(fs::exists(entry));
    }
}

TEST_F(CompressionCacheEntryTest, TheLeastRecentlyUsedEntriesGoFirst)
{
    // A cap of 1 MiB gives each of the 256 directories 4 KiB; four entries of
    // about 1 KiB in directory 00 pass that.
    ASSERT_TRUE(cache_.Open());
    std::vector<Bytes> inBucket;
    for (unsigned seed = 0; inBucket.size() < 4; ++seed) {
        const Bytes raw = ToBytes(testing::RandomBytes(2000, seed));
        std::uint32_t hash = 0;
        if (CompressionCache::KeyFor(raw, hash)[0] == 0)
            inBucket.push_back(raw);
    }
    const Bytes block(1000, 'x');
    for (std::size_t i = 0; i < 3; ++i) {
        Store(inBucket[i], block);
        // Last used three, two and one and a half hours ago (a use within the last
        // hour is not recorded again).
        const auto ago = std::chrono::seconds(10800 - 3600 * static_cast<int>(i) - (i == 2 ? 1800 : 0));
        fs::last_write_time(NewestEntryIn("00"), fs::file_time_type::clock::now() - ago);
    }
    cache_.Flush();
    ASSERT_TRUE(Find(inBucket[0]));  // used now
    Store(inBucket[3], block);
    cache_.Flush();
    // Over its share, the directory drops the entry used longest ago, and only it.
    EXPECT_TRUE(Find(inBucket[0]));
    EXPECT_FALSE(Find(inBucket[1]));
    EXPECT_TRUE(Find(inBucket[2]));
    EXPECT_TRUE(Find(inBucket[3]));
}

// --- Through the archiver ------------------------------------------------------------

TEST(CompressionCacheRunTest, RebuildsGiveTheSameContentAndAnUnusableCacheIsOneWarning)
{
    testing::TempDir dir;
    std::string files;
    for (int i = 0; i < 12; ++i) {
        const std::string name = "src/f" + std::to_string(i);
        dir.Write(name, i % 3 == 0 ? testing::RandomBytes(3000, i) : testing::CompressibleText(20000, i));
        files += "<File ArchivedPath=\"f" + std::to_string(i) + "\"><![CDATA[" + name + "]]></File>\n";
    }
    dir.Write("s.xml", "<ScriptFile><CreateOrvanPack ArchivePath=\"a.pak\" BuildKeyfile=\"true\">" + files +
                           "</CreateOrvanPack></ScriptFile>");
    const auto run = [&](const std::string& cache) {
        const testing::ToolRun result =
            testing::RunProgram("/usr/bin/env", {"ZELKOR_CACHE_DIR=" + cache, ZELKOR_BINARY, "s.xml"}, dir.path());
        EXPECT_EQ(result.status, result.err.empty() ? 0 : 1) << result.err;
        return std::make_pair(result.err, testing::ReadArchive(dir / "a.pak", dir / "a.pak.zlk"));
    };
    const auto plain = run("");
    const auto cold = run("cache");
    const auto warm = run("cache");
    EXPECT_EQ(cold.first + warm.first, "");
    for (const auto* built : {&cold, &warm}) {
        ASSERT_EQ(built->second.size(), plain.second.size());
        for (std::size_t i = 0; i < plain.second.size(); ++i) {
            EXPECT_EQ(built->second[i].content, plain.second[i].content);
            EXPECT_EQ(built->second[i].compressed, plain.second[i].compressed);
        }
    }
    const auto statistics = CompressionCache::Inspect((dir / "cache").string());
    ASSERT_TRUE(statistics);
    EXPECT_EQ(statistics->misses, 12u);
    EXPECT_EQ(statistics->hits, 12u);

    // What zelkor-inspect shows of it, and its counters and entries cleared.
    const auto report = [&](const std::vector<std::string>& args) {
        std::vector<std::string> all = {"cache", "cache"};
        all.insert(all.end(), args.begin(), args.end());
        const testing::ToolRun run = testing::RunInspect(all, dir.path());
        EXPECT_EQ(run.status, 0) << run.err;
        return run.out;
    };
    std::string shown = report({});
    EXPECT_EQ(shown.rfind("cache cache: 12 entries, ", 0), 0u) << shown;
    EXPECT_NE(shown.find("of a cap of 5.0 GiB"), std::string::npos) << shown;
    EXPECT_NE(shown.find("12 hits, 12 misses (50.0% hits)"), std::string::npos) << shown;
    EXPECT_NE(report({"--reset"}).find("0 hits, 0 misses, 0 bytes"), std::string::npos);
    EXPECT_EQ(report({"--clear", "--json"}).substr(0, 48), "{\"directory\":\"cache\",\"entries\":0,\"bytes\":0,\"capa");

    // A cache below a regular file cannot be made: one warning, and the archive
    // is built all the same.
    const auto unusable = run("s.xml/cache");
    EXPECT_EQ(unusable.first, "Cannot use cache s.xml/cache!\n");
    EXPECT_EQ(unusable.second.size(), 12u);
}

}  // namespace
}  // namespace zelkor
