// What an unchanged build is recorded by, in process: the status each entry's
// bytes were read at, the file systems and mounts they lie on, and how long
// the proof of those bytes stands.
#include "commands/unchanged_build.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <numeric>
#include <sstream>

#include <gtest/gtest.h>

#include "archive/archive_writer.h"
#include "cache/compression_cache.h"
#include "cache/local_store.h"
#include "commands/command_reader.h"
#include "commands/volume_set_writer.h"
#include "pack/file_job.h"
#include "pack/previous_build.h"
#include "platform/file_system.h"
#include "runtime/cache_warnings.h"
#include "runtime/warning_log.h"
#include "support/temp_dir.h"
#include "support/test_data.h"

namespace zelkor {
namespace {

namespace fs = std::filesystem;
using Reads = std::vector<std::optional<LoadedFile::Settled>>;

// A mount made for one test with mount(8), taken away again however the test ends.
class Mount {
public:
    // `options` as mount(8) takes them before the target; false when it cannot
    // be made (not root, no mount(8), a sandbox that forbids it).
    bool Make(const std::string& options, const fs::path& target)
    {
        target_ = target;
        const std::string command = "mount " + options + " '" + target.string() + "' 2>/dev/null";
        made_ = ::geteuid() == 0 && std::system(command.c_str()) == 0;
        return made_;
    }
    void Take()
    {
        if (made_)
            made_ = std::system(("umount '" + target_.string() + "'").c_str()) != 0;
    }
    ~Mount() { Take(); }

private:
    fs::path target_;
    bool made_ = false;
};

// One run of the archiver: a cache over DIR/cache with its status and build
// records, a source recorded however recently it changed.
struct ArchiverRun {
    explicit ArchiverRun(const fs::path& directory, std::chrono::hours trust, bool rehash = false)
    {
        const std::string path = (directory / "cache").string();
        cache = std::make_unique<CompressionCache>(LocalStore::Open(path, {}), problems);
        root = Directory::Open(path);
        CacheSettings settings;
        settings.trust = trust;
        settings.rehash = rehash;
        cache->KeepRecords(*root, settings, 0);
    }
    ~ArchiverRun() { cache->Flush(); }

    std::ostringstream messages;
    WarningLog log{messages};
    CacheWarnings problems{log};
    std::unique_ptr<CompressionCache> cache;
    std::optional<Directory> root;
};

class UnchangedBuildRecordTest : public ::testing::Test {
protected:
    UnchangedBuildRecordTest()
    {
        PrepareCrypto();
        dir_.Write("seed", testing::RandomBytes(64, 5));
        material_ = KeyMaterial::FromSeedFile((dir_ / "seed").string());
    }

    std::unique_ptr<ArchiverRun> Start(std::chrono::hours trust = CacheSettings::DefaultTrust, bool rehash = false)
    {
        return std::make_unique<ArchiverRun>(dir_.path(), trust, rehash);
    }

    // A command packing `sources` (relative to the test's directory) into
    // out/a.pak with a key file.
    PackCommand Command(const std::vector<std::string>& sources) const
    {
        PackCommand pack;
        pack.archive = (dir_ / "out/a.pak").string();
        pack.keyFile = NamedPath((dir_ / "out/a.pak.zlk").string());
        for (const std::string& source : sources)
            pack.sources.push_back({(dir_ / source).string(), source, source});
        return pack;
    }

    // Builds `pack` in `run` as a pack command does (copying from the last
    // build what it may), calling `before(i)` before source i is loaded, and
    // records the build; the reads it was recorded by. Without `run`, with no
    // cache at all.
    Reads Build(ArchiverRun* run, const PackCommand& pack, const std::function<void(std::size_t)>& before = {})
    {
        fs::create_directories(dir_ / "out");
        VolumeSetWriter writer;
        EXPECT_TRUE(writer.Create(pack.archive, pack.keyFile ? &*pack.keyFile : nullptr, &*material_, pack.volumeSize));
        std::optional<UnchangedBuild> unchanged;
        std::unique_ptr<PreviousBuild> previous;
        if (run) {
            unchanged.emplace(pack, *material_, *run->cache);
            previous = unchanged->Previous();
            writer.KeepEntries();
        }
        FileJob job(run ? run->cache.get() : nullptr);
        Reads reads(pack.sources.size());
        for (std::size_t i = 0; i < pack.sources.size(); ++i) {
            if (before)
                before(i);
            const FileJob::Options options{
                .excluded = {}, .key = &writer.Key(), .storeRaw = pack.sources[i].storeRaw, .previous = previous.get()};
            std::optional<LoadedFile> loaded = job.Load(pack.sources[i].path, options);
            EXPECT_TRUE(loaded) << pack.sources[i].path;
            if (!loaded)
                return reads;
            EXPECT_EQ(writer.AddFile(*pack.sources[i].archivedPath, *loaded), VolumeSetWriter::Added::Stored);
            reads[i] = loaded->settled;
        }
        previous.reset();
        writer.Close();
        std::vector<std::size_t> stored(pack.sources.size());
        std::iota(stored.begin(), stored.end(), std::size_t{0});
        if (unchanged)
            unchanged->Record(writer, reads, stored, true);
        return reads;
    }
    Reads Build(ArchiverRun& run, const PackCommand& pack, const std::function<void(std::size_t)>& before = {})
    {
        return Build(&run, pack, before);
    }

    // Whether `run` would leave the last build of `pack` in place.
    bool LeftInPlace(ArchiverRun& run, const PackCommand& pack)
    {
        VolumeSetWriter writer;
        EXPECT_TRUE(writer.Create(pack.archive, &*pack.keyFile, &*material_, pack.volumeSize));
        std::uint64_t bytes = 0;
        const bool left = UnchangedBuild(pack, *material_, *run.cache).Matches(writer, bytes);
        writer.Abandon();
        return left;
    }

    // Puts a new file holding `content`, as settled as the old one, at `relative`.
    void ReplaceByRename(const std::string& relative, const std::string& content)
    {
        dir_.Write("replacement", content);
        fs::rename(dir_ / "replacement", dir_ / relative);
    }

    testing::TempDir dir_;
    std::optional<KeyMaterial> material_;
};

TEST_F(UnchangedBuildRecordTest, APathReadTwiceAndChangedBetweenGivesABuildTheNextRunRefuses)
{
    // The archive holds the first read's bytes under one name and the second's
    // under the other; recorded with the second's status for both, every later
    // run would leave it in place.
    const std::string first = testing::CompressibleText(300'000, 1);
    const std::string second = testing::CompressibleText(300'000, 2);
    const struct {
        const char* how;
        std::string path;
        std::function<void()> change;
    } cases[] = {
        {"renamed over", "src/current", [&] { ReplaceByRename("src/current", second); }},
        {"a link flipped", "link/data",
         [&] {
             fs::create_directory_symlink("v2", dir_ / "link2");
             fs::rename(dir_ / "link2", dir_ / "link");
         }},
    };
    dir_.Write("v1/data", first);
    dir_.Write("v2/data", second);
    fs::create_directory_symlink("v1", dir_ / "link");
    dir_.Write("src/current", first);
    for (const auto& c : cases) {
        const PackCommand pack = Command({c.path, c.path});
        const Reads reads = Build(*Start(), pack, [&](std::size_t i) {
            if (i == 1)
                c.change();
        });
        ASSERT_TRUE(reads[0] && reads[1]) << c.how;
        EXPECT_NE(reads[0]->status.inode, reads[1]->status.inode) << c.how;
        EXPECT_FALSE(LeftInPlace(*Start(), pack)) << c.how;
        // Built again with both reads alike, it is left in place.
        Build(*Start(), pack);
        EXPECT_TRUE(LeftInPlace(*Start(), pack)) << c.how;
    }
}

TEST_F(UnchangedBuildRecordTest, ABuildIsLeftInPlaceOnlyWhileItsSourcesWereProvenWithinTheBound)
{
    dir_.Write("src/a", testing::CompressibleText(300'000, 3));
    dir_.Write("src/b", testing::RandomBytes(3000, 4));
    const PackCommand pack = Command({"src/a", "src/b"});
    const struct {
        std::chrono::hours trust;
        bool left;
    } cases[] = {{CacheSettings::DefaultTrust, true}, {std::chrono::hours(1), true}, {std::chrono::hours(0), false}};
    Build(*Start(), pack);
    for (const auto& c : cases)
        EXPECT_EQ(LeftInPlace(*Start(c.trust), pack), c.left) << c.trust.count();
}

TEST_F(UnchangedBuildRecordTest, SourcesOnAFileSystemWhoseTimesMayLieAreReadEveryTime)
{
    // ramfs, like squashfs, erofs, iso9660 and FAT, is not among the file
    // systems known to keep a true change time.
    fs::create_directories(dir_ / "ram");
    Mount ram;
    if (!ram.Make("-t ramfs none", dir_ / "ram"))
        GTEST_SKIP() << "cannot mount a ramfs here (needs root and mount(8))";
    dir_.Write("ram/a", testing::CompressibleText(300'000, 5));
    const PackCommand pack = Command({"ram/a"});
    auto run = Start();
    const Reads reads = Build(*run, pack);
    EXPECT_FALSE(reads[0]);
    EXPECT_EQ(run->cache->Sources()->Size(), 0u);
    run.reset();
    EXPECT_FALSE(LeftInPlace(*Start(), pack));
}

TEST_F(UnchangedBuildRecordTest, ASourceOnAMountMadeAgainIsNotTheSource)
{
    // The same files under a new mount: inode, size and times all as they were,
    // as they would be for a reproducibly built image mounted where the last
    // one was.
    fs::create_directories(dir_ / "tree");
    fs::create_directories(dir_ / "mnt");
    dir_.Write("tree/a", testing::CompressibleText(300'000, 6));
    Mount bound;
    if (!bound.Make("--bind '" + (dir_ / "tree").string() + "'", dir_ / "mnt"))
        GTEST_SKIP() << "cannot bind-mount here (needs root and mount(8))";
    const PackCommand pack = Command({"mnt/a"});
    Build(*Start(), pack);
    EXPECT_TRUE(LeftInPlace(*Start(), pack));
    const std::optional<FileStatus> before = StatusOf((dir_ / "mnt/a").string());
    bound.Take();
    ASSERT_TRUE(bound.Make("--bind '" + (dir_ / "tree").string() + "'", dir_ / "mnt"));
    const std::optional<FileStatus> after = StatusOf((dir_ / "mnt/a").string());
    ASSERT_TRUE(before && after);
    EXPECT_EQ(RecordedStatus::Of(*before).LastChange(), RecordedStatus::Of(*after).LastChange());
    EXPECT_EQ(before->inode, after->inode);
    if (before->mount == after->mount)
        GTEST_SKIP() << "this kernel gave the new mount the old one's ID";
    EXPECT_FALSE(LeftInPlace(*Start(), pack));
    auto run = Start();
    EXPECT_FALSE(run->cache->Sources()->Trusted((dir_ / "mnt/a").string(), *after));
}


// --- Entries copied from the last build ---------------------------------------

class EntryCopyTest : public UnchangedBuildRecordTest {
protected:
    // Sources of every kind: compressible, incompressible (stored raw), under
    // 1 KiB, empty, stored raw by a Store choice, and one streamed (a Store
    // choice from 4 MiB on), which is never copied.
    void WriteSources()
    {
        dir_.Write("src/text", testing::CompressibleText(300'000, 1));
        dir_.Write("src/noise", testing::RandomBytes(3000, 2));
        dir_.Write("src/tiny", "x");
        dir_.Write("src/empty", "");
        dir_.Write("src/kept", testing::CompressibleText(5000, 3));
        dir_.Write("src/large", testing::RandomBytes(StreamFrom, 4));
    }

    PackCommand Sources() const
    {
        PackCommand pack = Command({"src/text", "src/noise", "src/tiny", "src/empty", "src/kept", "src/large"});
        pack.sources[4].storeRaw = pack.sources[5].storeRaw = true;
        return pack;
    }

    // Builds `pack` with the cache (in a run of its own, `trust` and `rehash`
    // as given); the number of entries copied. The archive and key file must
    // be those of a build without any cache.
    std::uint64_t Copied(const PackCommand& pack, std::chrono::hours trust = CacheSettings::DefaultTrust,
                         bool rehash = false)
    {
        auto run = Start(trust, rehash);
        Build(*run, pack);
        const std::uint64_t copied = run->cache->Counted().copied;
        PackCommand full = pack;
        full.archive = (dir_ / "out/full.pak").string();
        if (full.keyFile)
            full.keyFile = NamedPath((dir_ / "out/full.pak.zlk").string());
        Build(nullptr, full);
        EXPECT_TRUE(dir_.Read("out/a.pak") == dir_.Read("out/full.pak"));
        if (pack.keyFile) {
            EXPECT_TRUE(dir_.Read("out/a.pak.zlk") == dir_.Read("out/full.pak.zlk"));
        }
        return copied;
    }

    // Writes `bytes` at `offset` of the archive, and then records the build
    // as though its status had not moved: what a rewrite through a shared
    // mapping can leave behind.
    void RewriteBehindTheToolsBack(std::uint64_t offset, const std::string& bytes)
    {
        {
            std::fstream archive(dir_ / "out/a.pak", std::ios::in | std::ios::out | std::ios::binary);
            archive.seekp(static_cast<std::streamoff>(offset));
            archive.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        }
        auto run = Start();
        const std::string name = *StatusRecords::NameOf((dir_ / "out/a.pak").string());
        std::optional<BuildRecords::Record> record = run->cache->Builds()->Find(name);
        ASSERT_TRUE(record);
        record->archive = RecordedStatus::Of(*StatusOf((dir_ / "out/a.pak").string()));
        run->cache->Builds()->Put(name, *record);
    }

    // Where entry `index` of the last recorded build lies.
    std::uint64_t EntryAt(std::size_t index)
    {
        auto run = Start();
        const std::optional<BuildRecords::Record> record =
            run->cache->Builds()->Find(*StatusRecords::NameOf((dir_ / "out/a.pak").string()));
        return record && index < record->entries.size() ? record->entries[index].entry.dataOffset - FileEntry::Size : 0;
    }
};

TEST_F(EntryCopyTest, EntriesOfUnchangedSourcesAreCopiedAsAFullBuildWritesThem)
{
    // Each row changes the command or its sources after a build, then builds
    // again: so many entries come from the last build, and the rest are made.
    const struct {
        const char* change;
        std::function<void(PackCommand&)> apply;
        std::uint64_t copied;
    } cases[] = {
        {"nothing", [](PackCommand&) {}, 5},
        {"one source rewritten", [&](PackCommand&) { dir_.Write("src/noise", testing::RandomBytes(3001, 5)); }, 4},
        {"one source replaced by a copy", [&](PackCommand&) { ReplaceByRename("src/text", dir_.Read("src/text")); },
         4},
        {"an entry archived under another name", [](PackCommand& p) { p.sources[0].archivedPath = "renamed"; }, 5},
        {"the sources in another order", [](PackCommand& p) { std::swap(p.sources[0], p.sources[3]); }, 5},
        {"a source listed twice", [](PackCommand& p) { p.sources.push_back(p.sources[0]); }, 6},
        {"a source added", [&](PackCommand& p) {
             dir_.Write("src/new", "new");
             p.sources.push_back({(dir_ / "src/new").string(), "new", "new"});
         }, 5},
        {"a Store choice dropped", [](PackCommand& p) { p.sources[4].storeRaw = false; }, 4},
        {"a Store choice made", [](PackCommand& p) { p.sources[0].storeRaw = true; }, 4},
        {"without the key file", [](PackCommand& p) { p.keyFile.reset(); }, 0},
        {"at another level", [](PackCommand& p) { p.level = 12; }, 0},
        {"another key seed", [&](PackCommand&) { material_ = KeyMaterial::FromSeed(std::vector<std::uint8_t>(32, 1)); },
         0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.change);
        WriteSources();
        material_ = KeyMaterial::FromSeedFile((dir_ / "seed").string());
        PackCommand pack = Sources();
        EXPECT_EQ(Copied(pack), 0u);
        c.apply(pack);
        EXPECT_EQ(Copied(pack), c.copied);
    }
}

TEST_F(EntryCopyTest, WhatTheLastBuildNoLongerHoldsIsMadeAgain)
{
    const struct {
        const char* what;
        std::function<void()> change;
        std::uint64_t copied;
        std::chrono::hours trust = CacheSettings::DefaultTrust;
        bool rehash = false;
    } cases[] = {
        {"a stored byte of the second entry", [&] { RewriteBehindTheToolsBack(EntryAt(1) + FileEntry::Size + 7, "?"); },
         4},
        {"the name hash of the first entry", [&] { RewriteBehindTheToolsBack(EntryAt(0) + 16, "?"); }, 4},
        {"the last stored byte of an entry", [&] { RewriteBehindTheToolsBack(EntryAt(4) + FileEntry::Size + 4999, "?"); }, 4},
        {"a byte of the archive's header", [&] { RewriteBehindTheToolsBack(10, "?"); }, 0},
        {"the archive replaced by a copy of itself", [&] { ReplaceByRename("out/a.pak", dir_.Read("out/a.pak")); },
         0},
        {"the archive removed", [&] { fs::remove(dir_ / "out/a.pak"); }, 0},
        {"nothing, beyond the trust bound", [] {}, 0, std::chrono::hours(0)},
        {"nothing, with every source to be read again", [] {}, 0, CacheSettings::DefaultTrust, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        WriteSources();
        const PackCommand pack = Sources();
        Copied(pack);
        c.change();
        EXPECT_EQ(Copied(pack, c.trust, c.rehash), c.copied);
    }
}

}  // namespace
}  // namespace zelkor
