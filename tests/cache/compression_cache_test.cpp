// The compression cache: its settings, the eviction's choice, honest hits over
// a store held in memory, and rebuilds through the archiver.
#include "cache/compression_cache.h"

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#endif

#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>
#include <vector>

#include <gtest/gtest.h>
#include <lz4.h>
#include <lz4hc.h>

#include "archive/entry_codec.h"
#include "archive/lz4_block_reader.h"
#include "cache/local_store.h"
#include "runtime/cache_warnings.h"
#include "runtime/warning_log.h"
#include "store/cache_entry.h"
#include "store/eviction_policy.h"
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

TEST(CompressionCacheTest, Sizes)
{
    const struct {
        const char* text;
        std::optional<std::uint64_t> size;
    } cases[] = {
        {"5G", std::uint64_t{5} << 30}, {"500M", 500u << 20}, {"64k", 64u << 10}, {"123", 123u},
        {"0", 0u}, {"", std::nullopt}, {"G", std::nullopt}, {"5GB", std::nullopt}, {"-1", std::nullopt},
        {"1.5G", std::nullopt}, {"99999999999999999999", std::nullopt}, {"17179869184G", std::nullopt},
        {"18446744073709551615", UINT64_MAX}, {"18446744073709551616", std::nullopt},
        {"17179869183G", std::uint64_t{17179869183} << 30}, {"018446744073709551615", UINT64_MAX},
    };
    for (const auto& c : cases)
        EXPECT_EQ(CacheSettings::ParseSize(c.text), c.size) << c.text;
    for (const std::uint64_t size : {std::uint64_t{5} << 30, std::uint64_t{3} << 20, std::uint64_t{1} << 10,
                                     std::uint64_t{1000}, std::uint64_t{0}, UINT64_MAX})
        EXPECT_EQ(CacheSettings::ParseSize(CacheSettings::ShowSize(size)), size) << size;
    EXPECT_EQ(CacheSettings::ShowSize(CacheSettings::DefaultCapacity), "5G");
}

TEST(CompressionCacheTest, SettingsFromTheEnvironment)
{
    // Each row: ZELKOR_CACHE_DIR, ZELKOR_CACHE_SIZE (null: unset), what is read.
    static const char* dir = nullptr;
    static const char* size = nullptr;
    const auto lookup = [](const char* name) -> const char* {
        return std::string_view(name) == "ZELKOR_CACHE_DIR" ? dir : std::string_view(name) == "ZELKOR_CACHE_SIZE" ? size
                                                                                                                  : nullptr;
    };
    const struct {
        const char* dir;
        const char* size;
        bool enabled;
        std::uint64_t capacity;
        const char* warning;
    } cases[] = {
        {nullptr, nullptr, false, CacheSettings::DefaultCapacity, ""},
        {"", "1G", false, std::uint64_t{1} << 30, ""},
        {"c", nullptr, true, CacheSettings::DefaultCapacity, ""},
        {"c", "", true, CacheSettings::DefaultCapacity, ""},
        {"c", "10M", true, 10u << 20, ""},
        {"c", "lots", true, CacheSettings::DefaultCapacity, "ZELKOR_CACHE_SIZE=\"lots\" is not a size, taken as 5G!"},
        // The size counts without a directory too (zelkor-inspect cache DIR).
        {nullptr, "2k", false, 2048, ""},
        {nullptr, "2kk", false, CacheSettings::DefaultCapacity, "ZELKOR_CACHE_SIZE=\"2kk\" is not a size, taken as 5G!"},
    };
    for (const auto& c : cases) {
        dir = c.dir;
        size = c.size;
        const CacheSettings settings = CacheSettings::FromEnvironment(lookup);
        EXPECT_EQ(settings.Enabled(), c.enabled) << (c.dir ? c.dir : "unset");
        EXPECT_EQ(settings.capacity, c.capacity) << (c.size ? c.size : "unset");
        EXPECT_EQ(CacheWarnings::OfSize(settings), c.warning);
    }
    // The trust in status records is turned off by any value but empty and 0.
    static const char* rehash = nullptr;
    const auto rehashing = [](const char* name) -> const char* {
        return std::string_view(name) == "ZELKOR_CACHE_REHASH" ? rehash : nullptr;
    };
    const struct {
        const char* value;
        bool rehash;
    } rehashCases[] = {{nullptr, false}, {"", false}, {"0", false}, {"1", true}, {"yes", true}, {"00", true}};
    for (const auto& c : rehashCases) {
        rehash = c.value;
        EXPECT_EQ(CacheSettings::FromEnvironment(rehashing).rehash, c.rehash) << (c.value ? c.value : "unset");
    }
    // The trust bound: whole hours up to a year; anything else warns.
    static const char* trust = nullptr;
    const auto trusting = [](const char* name) -> const char* {
        return std::string_view(name) == "ZELKOR_CACHE_TRUST_HOURS" ? trust : nullptr;
    };
    const std::string taken = "\" is not a number of hours, taken as 24!";
    const struct {
        const char* value;
        long hours;
        bool bad;
    } trustCases[] = {{nullptr, 24, false}, {"", 24, false},    {"0", 0, false},     {"168", 168, false},
                      {"8784", 8784, false}, {"8785", 24, true}, {"1.5", 24, true},  {"-1", 24, true},
                      {"24h", 24, true},     {" 24", 24, true},  {"99999999999999999999", 24, true}};
    for (const auto& c : trustCases) {
        trust = c.value;
        const CacheSettings settings = CacheSettings::FromEnvironment(trusting);
        EXPECT_EQ(settings.trust.count(), c.hours) << (c.value ? c.value : "unset");
        EXPECT_EQ(CacheWarnings::OfTrust(settings),
                  c.bad ? "ZELKOR_CACHE_TRUST_HOURS=\"" + std::string(c.value) + taken : std::string())
            << (c.value ? c.value : "unset");
    }
}

TEST(CompressionCacheTest, ProblemsAreWordedByTheStoreTheyName)
{
    CacheKey key;
    key.bytes[0] = 0xab;
    const std::string hex = key.Hex();
    using Store = CacheProblem::Store;
    const struct {
        CacheProblem problem;
        std::string said;
    } cases[] = {
        {CacheProblem::Unusable(Store::Local, "dir"), "Cannot use cache dir!"},
        {CacheProblem::Unusable(Store::Remote, "http://h/c"), "Cannot use remote cache http://h/c!"},
        {CacheProblem::Damaged(Store::Local, "dir", key), "Cache dir held a damaged entry " + hex + "!"},
        {CacheProblem::Damaged(Store::Remote, "http://h/c", key),
         "Remote cache http://h/c sent a damaged entry " + hex + "!"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(CacheWarnings::Of(c.problem), c.said);
}

TEST(CompressionCacheTest, TheLeastRecentlyUsedEntriesAreChosenFirst)
{
    // A cap of 256 KiB gives a bucket 1 KiB, and it keeps at most 90% of that (921 bytes).
    const std::uint64_t cap = 256 * 1024;
    EXPECT_EQ(eviction::Share(cap), 1024u);
    EXPECT_FALSE(eviction::Due(1024, cap));
    EXPECT_TRUE(eviction::Due(1025, cap));
    using Entries = std::vector<eviction::StoredEntry>;
    using Names = std::vector<std::string>;
    const struct {
        Entries entries;
        Names victims;
    } cases[] = {
        {{}, {}},
        {{{"a", 900, 5}}, {}},
        {{{"a", 400, 30}, {"b", 400, 10}, {"c", 400, 20}}, {"b"}},
        {{{"a", 400, 30}, {"b", 400, 10}, {"c", 400, 20}, {"d", 400, 40}}, {"b", "c"}},
        // Ties in the time of use go by name, whatever the listing's order.
        {{{"y", 500, 7}, {"x", 500, 7}, {"z", 100, 9}}, {"x"}},
        {{{"x", 500, 7}, {"y", 500, 7}, {"z", 100, 9}}, {"x"}},
        // One entry larger than the share goes whole.
        {{{"big", 5000, 50}, {"new", 100, 60}}, {"big"}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(eviction::Victims(c.entries, cap), c.victims);
}

// --- Honest hits, over a store in memory ------------------------------------------

// A store that keeps whole entries in a map; tests may change them at will.
class MemoryStore final : public CacheStore {
public:
    Got Get(const CacheKey& key, std::uint64_t maxSize, const Buffer& buffer) override
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        const auto found = entries_.find(key.Hex());
        if (found == entries_.end())
            return {};
        if (found->second.size() > maxSize)
            return {Got::Kind::TooLarge, {}};
        const std::span<std::uint8_t> room = buffer(found->second.size()).first(found->second.size());
        std::copy(found->second.begin(), found->second.end(), room.begin());
        return {Got::Kind::Found, room};
    }
    bool Put(const CacheKey& key, std::span<const std::uint8_t> header, std::span<const std::uint8_t> block) override
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        Bytes& entry = entries_[key.Hex()];
        entry.assign(header.begin(), header.end());
        entry.insert(entry.end(), block.begin(), block.end());
        return true;
    }
    void Remove(const CacheKey& key) override
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        entries_.erase(key.Hex());
    }
    bool Flush(const CacheCounters& counters) override
    {
        flushed += counters;
        return true;
    }
    std::optional<CacheProblem> Unusable() const override
    {
        return CacheProblem::Unusable(CacheProblem::Store::Local, "mem");
    }
    CacheProblem Damaged(const CacheKey& key) const override
    {
        return CacheProblem::Damaged(CacheProblem::Store::Local, "mem", key);
    }

    std::map<std::string, Bytes> entries_;
    CacheCounters flushed;

private:
    std::mutex mutex_;
};

class HonestCacheTest : public ::testing::Test {
protected:
    HonestCacheTest() : log_(messages_)
    {
        auto store = std::make_unique<MemoryStore>();
        store_ = store.get();
        cache_ = std::make_unique<CompressionCache>(std::move(store), problems_);
    }

    CompressionCache::Outcome Find(const Bytes& raw, const CacheKey& key)
    {
        return cache_->Find(key, raw, Room(), reader_, hit_);
    }
    CompressionCache::Outcome Find(const Bytes& raw) { return Find(raw, KeyOf(raw)); }
    CacheStore::Buffer Room()
    {
        return [this](std::size_t size) {
            buffer_.resize(size);
            return std::span(buffer_);
        };
    }
    Bytes HitBlock() const { return Bytes(hit_.block.begin(), hit_.block.end()); }

    // A well-formed entry under the key of `raw` whose block is `block`, as
    // anyone who can write the store can make one: the checksum is no secret.
    void Plant(const Bytes& raw, const Bytes& block)
    {
        const CacheEntry::Header header = CacheEntry::Encode(KeyOf(raw), raw.size(), block);
        Bytes& entry = store_->entries_[KeyOf(raw).Hex()];
        entry.assign(header.begin(), header.end());
        entry.insert(entry.end(), block.begin(), block.end());
    }

    std::ostringstream messages_;
    WarningLog log_;
    CacheWarnings problems_{log_};
    MemoryStore* store_;
    std::unique_ptr<CompressionCache> cache_;
    Lz4BlockReader reader_;
    Bytes buffer_;
    CompressionCache::Hit hit_;
};

TEST_F(HonestCacheTest, StoredFormsRoundTrip)
{
    using Outcome = CompressionCache::Outcome;
    const Bytes text = ToBytes(testing::CompressibleText(200'000, 1));
    const Bytes noise = ToBytes(testing::RandomBytes(1000, 1));
    EXPECT_EQ(Find(text), Outcome::Miss);
    cache_->Store(KeyOf(text), text.size(), Compress(text));
    cache_->Store(KeyOf(noise), noise.size(), {});
    ASSERT_EQ(Find(text), Outcome::Hit);
    EXPECT_TRUE(hit_.compressed);
    EXPECT_EQ(HitBlock(), Compress(text));
    ASSERT_EQ(Find(noise), Outcome::Hit);  // compression did not pay
    EXPECT_FALSE(hit_.compressed);
    // Without the raw bytes at hand, the block's own bytes are hashed.
    std::uint32_t contentHash = 0;
    ASSERT_EQ(cache_->FindUnread(KeyOf(text), text.size(), Room(), reader_, hit_, &contentHash), Outcome::Hit);
    EXPECT_EQ(contentHash, EntryCodec::ContentHash(text));
    cache_->Flush();
    EXPECT_EQ(store_->flushed.hits, 3u);
    EXPECT_EQ(store_->flushed.misses, 1u);
    EXPECT_EQ(store_->flushed.savedBytes, 2 * text.size() + noise.size());
    EXPECT_EQ(store_->flushed.damaged, 0u);
    EXPECT_EQ(messages_.str(), "");
}

TEST_F(HonestCacheTest, APoisonedEntryIsAMissRemovedCountedAndNamedOnce)
{
    using Outcome = CompressionCache::Outcome;
    const Bytes text = ToBytes(testing::CompressibleText(50'000, 2));
    Bytes other = text;
    other[25'000] ^= 0x20;
    // Under the key of `text`, with a right checksum: a block of other bytes, a
    // block of nothing LZ4 reads, one of the wrong length.
    const Bytes poisons[] = {Compress(other), Bytes(900, 0xFF), Compress(Bytes(text.begin(), text.end() - 1))};
    for (const Bytes& poison : poisons) {
        Plant(text, poison);
        EXPECT_EQ(Find(text), Outcome::Miss);
        EXPECT_EQ(store_->entries_.count(KeyOf(text).Hex()), 0u);
    }
    // Found without the raw bytes, the same.
    Plant(text, Compress(other));
    std::uint32_t contentHash = 7;
    EXPECT_EQ(cache_->FindUnread(KeyOf(text), text.size(), Room(), reader_, hit_, &contentHash), Outcome::Miss);
    EXPECT_EQ(contentHash, 7u);
    EXPECT_TRUE(store_->entries_.empty());
    // An entry larger than any stored form of those bytes is not even read.
    Plant(text, Bytes(text.size() + 10, 1));
    EXPECT_EQ(Find(text), Outcome::Miss);
    EXPECT_TRUE(store_->entries_.empty());

    EXPECT_EQ(cache_->Counted().damaged, 5u);
    EXPECT_EQ(cache_->Counted().misses, 5u);
    EXPECT_EQ(cache_->Counted().hits, 0u);
    EXPECT_EQ(messages_.str(), "Cache mem held a damaged entry " + KeyOf(text).Hex() + "!\n");
    // A good entry stored afterwards is a hit again.
    cache_->Store(KeyOf(text), text.size(), Compress(text));
    EXPECT_EQ(Find(text), Outcome::Hit);
}

TEST_F(HonestCacheTest, RawBytesThatChangedAfterTheirKeyAreNoDamage)
{
    // The key was taken from `before`; by the time the block is checked, the
    // source reads `after` (a mapped file rewritten meanwhile).
    const Bytes before = ToBytes(testing::CompressibleText(50'000, 3));
    Bytes after = before;
    after[100] ^= 0x01;
    cache_->Store(KeyOf(before), before.size(), Compress(before));
    EXPECT_EQ(Find(after, KeyOf(before)), CompressionCache::Outcome::SourceChanged);
    EXPECT_EQ(store_->entries_.size(), 1u);
    EXPECT_EQ(cache_->Counted().damaged, 0u);
    EXPECT_EQ(messages_.str(), "");
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
    // Sources under 1 KiB are neither looked up nor kept: compressing one
    // costs less than its entry. One of 1 KiB is.
    for (const std::size_t size : {std::size_t{1}, std::size_t{1023}, std::size_t{1024}}) {
        const std::string name = "src/t" + std::to_string(size);
        dir.Write(name, testing::CompressibleText(size, static_cast<unsigned>(size)));
        files += "<File ArchivedPath=\"t" + std::to_string(size) + "\"><![CDATA[" + name + "]]></File>\n";
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
    const auto statistics = LocalStore::Inspect((dir / "cache").string());
    ASSERT_TRUE(statistics);
    EXPECT_EQ(statistics->counters.misses, 13u);
    EXPECT_EQ(statistics->counters.hits, 13u);
    EXPECT_TRUE(fs::is_regular_file(dir / "cache" / "CACHEDIR.TAG"));

    // What zelkor-inspect shows of it, and its counters and entries cleared.
    const auto report = [&](const std::vector<std::string>& args) {
        std::vector<std::string> all = {"cache", "cache"};
        all.insert(all.end(), args.begin(), args.end());
        const testing::ToolRun run = testing::RunInspect(all, dir.path());
        EXPECT_EQ(run.status, 0) << run.err;
        return run.out;
    };
    std::string shown = report({});
    EXPECT_EQ(shown.rfind("cache cache: 13 entries, ", 0), 0u) << shown;
    EXPECT_NE(shown.find("of a cap of 5.0 GiB"), std::string::npos) << shown;
    EXPECT_NE(shown.find("13 hits, 13 misses (50.0% hits)"), std::string::npos) << shown;
    EXPECT_NE(report({"--reset"}).find("0 hits, 0 misses, 0 bytes"), std::string::npos);
    EXPECT_EQ(report({"--clear", "--json"}).substr(0, 48), "{\"directory\":\"cache\",\"entries\":0,\"bytes\":0,\"capa");

    // A cache below a regular file cannot be made: one warning, and the archive
    // is built all the same.
    const auto unusable = run("s.xml/cache");
    EXPECT_EQ(unusable.first, "Cannot use cache s.xml/cache!\n");
    EXPECT_EQ(unusable.second.size(), 15u);

    // A directory named in letters that no code page holds together (Größe,
    // 缓存): read from the environment as UTF-8 on every system, by both tools.
    const std::string named = "Gr\xC3\xB6\xC3\x9F" "e-\xE7\xBC\x93\xE5\xAD\x98";
    EXPECT_EQ(run(named).first + run(named).first, "");
    const std::u8string where = (dir / named).u8string();
    const auto namedStatistics = LocalStore::Inspect(std::string(where.begin(), where.end()));
    ASSERT_TRUE(namedStatistics);
    EXPECT_EQ(namedStatistics->counters.hits, 13u);
    const testing::ToolRun namedReport =
        testing::RunProgram("/usr/bin/env", {"ZELKOR_CACHE_DIR=" + named, ZELKOR_INSPECT_BINARY, "cache"}, dir.path());
    EXPECT_EQ(namedReport.status, 0) << namedReport.err;
    EXPECT_EQ(namedReport.out.rfind("cache " + named + ": 13 entries, ", 0), 0u) << namedReport.out;
}

TEST(CompressionCacheRunTest, BothToolsReadTheEnvironmentAlike)
{
    testing::TempDir dir;
    dir.Write("src/a", testing::CompressibleText(3000, 1));
    dir.Write("s.xml", "<ScriptFile><CreateOrvanPack ArchivePath=\"a.pak\">"
                       "<File ArchivedPath=\"a\">src/a</File></CreateOrvanPack></ScriptFile>");
    const auto zelkor = [&](const std::string& size) {
        return testing::RunProgram(
            "/usr/bin/env", {"ZELKOR_CACHE_DIR=cache", "ZELKOR_CACHE_SIZE=" + size, ZELKOR_BINARY, "s.xml"}, dir.path());
    };
    const auto inspect = [&](const std::string& size, const std::vector<std::string>& args) {
        std::vector<std::string> all = {"-u", "ZELKOR_CACHE_DIR", "ZELKOR_CACHE_SIZE=" + size, ZELKOR_INSPECT_BINARY,
                                        "cache"};
        all.insert(all.end(), args.begin(), args.end());
        return testing::RunProgram("/usr/bin/env", all, dir.path());
    };
    const std::string warning = "ZELKOR_CACHE_SIZE=\"lots\" is not a size, taken as 5G!\n";
    const testing::ToolRun built = zelkor("lots");
    EXPECT_EQ(built.status, 1);
    EXPECT_EQ(built.err, warning);
    const testing::ToolRun untrusting = testing::RunProgram(
        "/usr/bin/env", {"ZELKOR_CACHE_DIR=cache", "ZELKOR_CACHE_TRUST_HOURS=a day", ZELKOR_BINARY, "s.xml"}, dir.path());
    EXPECT_EQ(untrusting.status, 1);
    EXPECT_EQ(untrusting.err, "ZELKOR_CACHE_TRUST_HOURS=\"a day\" is not a number of hours, taken as 24!\n");
    // The same words from zelkor-inspect, with the directory named and
    // ZELKOR_CACHE_DIR unset; a good size is its cap there too, up to 2^64 - 1.
    const testing::ToolRun shown = inspect("lots", {"cache"});
    EXPECT_EQ(shown.status, 1);
    EXPECT_EQ(shown.err, warning);
    EXPECT_NE(shown.out.find("of a cap of 5.0 GiB"), std::string::npos) << shown.out;
    EXPECT_NE(inspect("3G", {"cache"}).out.find("of a cap of 3.0 GiB"), std::string::npos);
    const testing::ToolRun largest = inspect("18446744073709551615", {"cache", "--json"});
    EXPECT_EQ(largest.status, 0) << largest.err;
    EXPECT_NE(largest.out.find("\"capacity\":18446744073709551615"), std::string::npos) << largest.out;

    // Reset and clear touch nothing in a directory without the cache's tag.
    dir.Write("notes/keep.txt", "mine");
    dir.Write("notes/3f/" + std::string(64, 'a'), "mine too");
    for (const char* option : {"--reset", "--clear"}) {
        const testing::ToolRun refused = inspect("1G", {"notes", option});
        EXPECT_EQ(refused.status, 2) << option;
        EXPECT_EQ(refused.err, "zelkor-inspect: notes is no cache (it holds no CACHEDIR.TAG): nothing in it is touched\n");
    }
    EXPECT_EQ(testing::ReadFile(dir / "notes" / "3f" / std::string(64, 'a')), "mine too");
    EXPECT_FALSE(fs::exists(dir / "notes" / "stats"));
}

TEST(CompressionCacheRunTest, APoisonedEntryNeverReachesAnArchive)
{
    // Someone who can write a shared cache plants, under the key of a source, a
    // well-formed entry (its checksum made right) whose block holds other bytes.
    testing::TempDir dir;
    const std::string text = testing::CompressibleText(40'000, 6);
    std::string evil = text;
    evil.replace(0, 12, "rm -rf /home");
    dir.Write("src/a.txt", text);
    dir.Write("s.xml", "<ScriptFile><CreateOrvanPack ArchivePath=\"a.pak\">"
                       "<File ArchivedPath=\"a.txt\">src/a.txt</File></CreateOrvanPack></ScriptFile>");
    const auto run = [&] {
        return testing::RunProgram("/usr/bin/env", {"ZELKOR_CACHE_DIR=cache", ZELKOR_BINARY, "s.xml"}, dir.path());
    };
    ASSERT_EQ(run().status, 0);
    const Bytes raw = ToBytes(text);
    const CacheKey key = KeyOf(raw);
    const fs::path entry = dir / "cache" / key.Hex().substr(0, 2) / key.Hex();
    ASSERT_TRUE(fs::exists(entry));
    const Bytes block = Compress(ToBytes(evil));
    const CacheEntry::Header header = CacheEntry::Encode(key, raw.size(), block);
    testing::WriteFile(entry, std::string(header.begin(), header.end()) + std::string(block.begin(), block.end()));

    const testing::ToolRun poisoned = run();
    EXPECT_EQ(poisoned.status, 1);
    EXPECT_EQ(poisoned.err, "Cache cache held a damaged entry " + key.Hex() + "!\n");
    const auto archived = testing::ReadArchive(dir / "a.pak", {});
    ASSERT_EQ(archived.size(), 1u);
    EXPECT_TRUE(archived[0].content == text);
    // The entry was replaced by the right one: the next build is quiet.
    const testing::ToolRun after = run();
    EXPECT_EQ(after.status, 0) << after.err;
    const auto statistics = LocalStore::Inspect((dir / "cache").string());
    ASSERT_TRUE(statistics);
    EXPECT_EQ(statistics->counters.damaged, 1u);
    EXPECT_EQ(statistics->counters.hits, 1u);
}

}  // namespace
}  // namespace zelkor
