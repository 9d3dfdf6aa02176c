// What an unchanged build is recorded by, in process: the status each entry's
// bytes were read at, the file systems and mounts they lie on, and how long
// the proof of those bytes stands.
#include "commands/unchanged_build.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <sstream>

#include <gtest/gtest.h>

#include "archive/archive_writer.h"
#include "cache/compression_cache.h"
#include "cache/local_store.h"
#include "commands/command_reader.h"
#include "commands/volume_set_writer.h"
#include "pack/file_job.h"
#include "platform/file_system.h"
#include "platform/warning_log.h"
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
    explicit ArchiverRun(const fs::path& directory, std::chrono::hours trust)
    {
        const std::string path = (directory / "cache").string();
        cache = std::make_unique<CompressionCache>(LocalStore::Open(path, {}), log);
        root = Directory::Open(path);
        CacheSettings settings;
        settings.trust = trust;
        cache->KeepRecords(*root, settings, 0);
    }
    ~ArchiverRun() { cache->Flush(); }

    std::ostringstream messages;
    WarningLog log{messages};
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

    std::unique_ptr<ArchiverRun> Start(std::chrono::hours trust = CacheSettings::DefaultTrust)
    {
        return std::make_unique<ArchiverRun>(dir_.path(), trust);
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

    // Builds `pack` in `run` as a pack command does, calling `before(i)` before
    // source i is loaded, and records the build; the reads it was recorded by.
    Reads Build(ArchiverRun& run, const PackCommand& pack, const std::function<void(std::size_t)>& before = {})
    {
        fs::create_directories(dir_ / "out");
        VolumeSetWriter writer;
        EXPECT_TRUE(writer.Create(pack.archive, &*pack.keyFile, &*material_, pack.volumeSize));
        FileJob job(run.cache.get());
        Reads reads(pack.sources.size());
        for (std::size_t i = 0; i < pack.sources.size(); ++i) {
            if (before)
                before(i);
            std::optional<LoadedFile> loaded = job.Load(pack.sources[i].path, {.excluded = {}, .key = &writer.Key()});
            EXPECT_TRUE(loaded) << pack.sources[i].path;
            if (!loaded)
                return reads;
            EXPECT_EQ(writer.AddFile(*pack.sources[i].archivedPath, *loaded), VolumeSetWriter::Added::Stored);
            reads[i] = loaded->settled;
        }
        writer.Close();
        UnchangedBuild(pack, *material_, *run.cache).Record(writer, reads);
        return reads;
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

}  // namespace
}  // namespace zelkor
