// Mount lists through the C interface, as a game calls them: lookups from the
// highest priority down, deletions that hide what lies below, the merged
// tree's listing, deletion lists that do not belong, and readers on many
// threads while archives come and go.
#include "zelkor/zelkor.h"

#include <atomic>
#include <cstring>
#include <map>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "archive/archive_writer.h"
#include "archive/deletion_list.h"
#include "pack/file_job.h"
#include "reader/file_source.h"
#include "reader/indexed_archive.h"
#include "support/temp_dir.h"

namespace zelkor {
namespace {

using testing::TempDir;
using Files = std::vector<std::pair<std::string, std::string>>;

class ZelkorMountsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(zlk_mounts_create(&mounts_), ZLK_OK);
        Build("base.pak", {{"a.txt", "base a"},
                           {"dir/b.txt", "base b"},
                           {"dir/sub/c.txt", "base c"},
                           {"gone.txt", "base gone"},
                           {"Case.TXT", "base case"}});
        Build("dlc.pak", {{"dlc/x.txt", "dlc x"}, {"dir\\b.txt", "dlc b"}});
        Build("patch.pak", {{"a.txt", "patch a"}, {"new.txt", "patch new"}});
        WriteDeletions("patch.pak", {"gone.txt", "DIR/B.txt"});
    }

    void TearDown() override { zlk_mounts_destroy(mounts_); }

    std::string Path(const std::string& name) const { return (dir_ / name).string(); }

    void Build(const std::string& name, const Files& files)
    {
        FileJob job;
        ArchiveWriter writer;
        const std::string key = Path(name) + ".zlk";
        ASSERT_TRUE(writer.Create(Path(name), &key));
        for (const auto& [archived, content] : files) {
            std::optional<LoadedFile> loaded = job.Load(dir_.Write("source", content).string());
            ASSERT_TRUE(loaded && writer.AddFile(archived, *loaded));
        }
        writer.Close();
    }

    ArchiveIdentity IdentityOf(const std::string& name)
    {
        return IndexedArchive(std::make_unique<FileSource>(Path(name)), std::make_unique<FileSource>(Path(name) + ".zlk"))
            .Identity();
    }

    void WriteDeletions(const std::string& patch, std::vector<std::string> names)
    {
        DeletionList list;
        list.patch = IdentityOf(patch);
        list.base = IdentityOf("base.pak");
        list.names = std::move(names);
        const std::vector<std::uint8_t> bytes = list.Encode();
        dir_.Write(patch + ".del", std::string(bytes.begin(), bytes.end()));
    }

    zlk_status Mount(const std::string& name, int priority)
    {
        return zlk_mount(mounts_, Path(name).c_str(), nullptr, priority, &error_);
    }

    // The content a lookup of `path` reads, or nothing when it finds nothing.
    std::optional<std::string> Lookup(const std::string& path)
    {
        const zlk_archive* archive = nullptr;
        std::uint64_t index = 0;
        const zlk_status status = zlk_mounts_find(mounts_, path.data(), path.size(), &archive, &index);
        if (status == ZLK_NOT_FOUND)
            return std::nullopt;
        EXPECT_EQ(status, ZLK_OK) << path;
        zlk_entry entry;
        EXPECT_EQ(zlk_entry_at(archive, index, &entry), ZLK_OK);
        std::string content(entry.raw_size, '\0');
        EXPECT_EQ(zlk_read(archive, index, content.data(), content.size(), &error_), ZLK_OK) << error_.message;
        return content;
    }

    // "path" for a file, "path/" for a directory, in the order listed.
    std::vector<std::string> Listing(const std::string& directory, unsigned flags = 0)
    {
        std::vector<std::string> names;
        const auto collect = [](void* opaque, const zlk_listing* item) {
            std::string name(item->path, item->path_length);
            EXPECT_LE(item->name_offset, item->path_length);
            EXPECT_EQ(item->archive == nullptr, item->is_directory != 0) << name;
            static_cast<std::vector<std::string>*>(opaque)->push_back(name + (item->is_directory ? "/" : ""));
            return 0;
        };
        EXPECT_EQ(zlk_mounts_list(mounts_, directory.data(), directory.size(), flags, collect, &names), ZLK_OK);
        return names;
    }

    TempDir dir_;
    zlk_mounts* mounts_ = nullptr;
    zlk_error error_{};
};

TEST_F(ZelkorMountsTest, LooksUpFromTheHighestPriorityDownAndHidesWhatAPatchDeleted)
{
    // Mounted out of order: the priorities decide.
    ASSERT_EQ(Mount("patch.pak", 20), ZLK_OK) << error_.message;
    ASSERT_EQ(Mount("base.pak", 0), ZLK_OK) << error_.message;
    ASSERT_EQ(Mount("dlc.pak", 10), ZLK_OK) << error_.message;
    EXPECT_EQ(zlk_mounts_count(mounts_), 3u);
    const std::pair<std::string, std::optional<std::string>> rows[] = {
        {"a.txt", "patch a"},          // the patch over the base
        {"A.TXT", "patch a"},          // case and separators as the name hash sees them
        {"new.txt", "patch new"},      // only in the patch
        {"dlc/x.txt", "dlc x"},        // only in the DLC
        {"dlc\\X.txt", "dlc x"},
        {"dir/sub/c.txt", "base c"},   // only in the base
        {"case.txt", "base case"},
        {"gone.txt", std::nullopt},    // deleted by the patch
        {"dir/b.txt", std::nullopt},   // deleted by the patch in both archives below it
        {"missing.txt", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto& [path, content] : rows)
        EXPECT_EQ(Lookup(path), content) << path;

    EXPECT_EQ(Listing(""), (std::vector<std::string>{"a.txt", "Case.TXT", "dir/", "dlc/", "new.txt"}));
    EXPECT_EQ(Listing("DIR/"), (std::vector<std::string>{"dir/sub/"}));
    EXPECT_EQ(Listing("", ZLK_LIST_RECURSIVE),
              (std::vector<std::string>{"a.txt", "Case.TXT", "dir/sub/c.txt", "dlc/x.txt", "new.txt"}));
    EXPECT_EQ(Listing("dir\\sub"), (std::vector<std::string>{"dir/sub/c.txt"}));
    EXPECT_TRUE(Listing("nowhere").empty());

    // Without the patch, its deletions go with it.
    ASSERT_EQ(zlk_unmount(mounts_, Path("patch.pak").c_str()), ZLK_OK);
    EXPECT_EQ(zlk_unmount(mounts_, Path("patch.pak").c_str()), ZLK_NOT_FOUND);
    EXPECT_EQ(Lookup("a.txt"), "base a");
    EXPECT_EQ(Lookup("gone.txt"), "base gone");
    EXPECT_EQ(Lookup("dir/b.txt"), "dlc b");
    EXPECT_EQ(Lookup("new.txt"), std::nullopt);
    EXPECT_EQ(Listing("dir", ZLK_LIST_RECURSIVE), (std::vector<std::string>{"dir\\b.txt", "dir/sub/c.txt"}));
}

TEST_F(ZelkorMountsTest, AmongEqualPrioritiesTheLaterMountWins)
{
    Build("other.pak", {{"a.txt", "other a"}});
    ASSERT_EQ(Mount("base.pak", 5), ZLK_OK);
    ASSERT_EQ(Mount("other.pak", 5), ZLK_OK);
    EXPECT_EQ(Lookup("a.txt"), "other a");
    EXPECT_EQ(Mount("base.pak", 9), ZLK_MISUSE);
    EXPECT_NE(std::string(error_.message).find("is mounted already"), std::string::npos) << error_.message;
    ASSERT_EQ(zlk_unmount(mounts_, Path("other.pak").c_str()), ZLK_OK);
    EXPECT_EQ(Lookup("a.txt"), "base a");
}

// A deletion list that does not belong to the archive beside it would hide
// what another build's base should show: the mount fails and changes nothing.
TEST_F(ZelkorMountsTest, ADeletionListOfAnotherBuildOrDamagedIsRefused)
{
    Build("patch.pak", {{"a.txt", "patch a, rebuilt"}, {"new.txt", "patch new"}});
    EXPECT_EQ(Mount("patch.pak", 20), ZLK_ARCHIVE_DAMAGED);
    EXPECT_NE(std::string(error_.message).find("patch.pak.del: the deletions of another build of the patch"),
              std::string::npos)
        << error_.message;
    EXPECT_EQ(zlk_mounts_count(mounts_), 0u);

    WriteDeletions("patch.pak", {"gone.txt"});
    std::string damaged = dir_.Read("patch.pak.del");
    damaged[50] ^= 1;
    for (const std::string& bytes : {damaged, damaged.substr(0, 20), std::string()}) {
        dir_.Write("patch.pak.del", bytes);
        EXPECT_EQ(Mount("patch.pak", 20), ZLK_ARCHIVE_DAMAGED) << bytes.size();
        EXPECT_NE(std::string(error_.message).find("patch.pak.del: "), std::string::npos) << error_.message;
    }
    EXPECT_EQ(zlk_mounts_count(mounts_), 0u);
}

int64_t ReadString(void* opaque, uint64_t offset, void* buffer, size_t length)
{
    const auto* bytes = static_cast<const std::string*>(opaque);
    if (offset >= bytes->size())
        return 0;
    const std::size_t count = std::min<std::size_t>(length, bytes->size() - offset);
    std::memcpy(buffer, bytes->data() + offset, count);
    return static_cast<int64_t>(count);
}

// A game that reads through its own I/O mounts archives it opened itself.
TEST_F(ZelkorMountsTest, ArchivesOpenedByTheCallerMountWithTheirDeletions)
{
    ASSERT_EQ(Mount("base.pak", 0), ZLK_OK);
    zlk_archive* patch = nullptr;
    ASSERT_EQ(zlk_open(Path("patch.pak").c_str(), Path("patch.pak.zlk").c_str(), &patch, &error_), ZLK_OK);
    const std::string deletions = dir_.Read("patch.pak.del");
    const zlk_source source{const_cast<std::string*>(&deletions), deletions.size(), ReadString, nullptr};
    ASSERT_EQ(zlk_mount_archive(mounts_, patch, &source, "patch", 1, &error_), ZLK_OK) << error_.message;
    EXPECT_EQ(Lookup("a.txt"), "patch a");
    EXPECT_EQ(Lookup("gone.txt"), std::nullopt);

    // Refused, the archive stays the caller's.
    zlk_archive* again = nullptr;
    ASSERT_EQ(zlk_open(Path("dlc.pak").c_str(), nullptr, &again, &error_), ZLK_OK);
    EXPECT_EQ(zlk_mount_archive(mounts_, again, nullptr, "patch", 2, &error_), ZLK_MISUSE);
    EXPECT_EQ(zlk_entry_count(again), 2u);
    zlk_close(again);
}

// Eight threads look up and list through one mount list while another mounts
// and unmounts a third archive over the two that stay; run under
// ThreadSanitizer in CI. Readers read only what the archives that stay hold,
// as the contract asks of a caller whose archive may be unmounted.
TEST_F(ZelkorMountsTest, EightThreadsReadWhileAThirdArchiveComesAndGoes)
{
    Build("extra.pak", {{"a.txt", "extra a"}, {"extra.txt", "extra"}});
    ASSERT_EQ(Mount("base.pak", 0), ZLK_OK);
    ASSERT_EQ(Mount("patch.pak", 10), ZLK_OK);
    const zlk_archive* base = nullptr;
    const zlk_archive* patch = nullptr;
    std::uint64_t index = 0;
    ASSERT_EQ(zlk_mounts_find(mounts_, "gone.txt", 0, &base, &index), ZLK_NOT_FOUND);
    ASSERT_EQ(zlk_mounts_find(mounts_, "case.txt", 8, &base, &index), ZLK_OK);
    ASSERT_EQ(zlk_mounts_find(mounts_, "new.txt", 7, &patch, &index), ZLK_OK);
    const std::map<std::string, std::string> stays = {
        {"a.txt", "patch a"}, {"dir/sub/c.txt", "base c"}, {"new.txt", "patch new"}};
    std::atomic<bool> done{false};
    std::atomic<int> failures{0};
    std::vector<std::thread> readers;
    for (int t = 0; t < 8; ++t) {
        readers.emplace_back([&, t] {
            const char* paths[] = {"a.txt", "dir/sub/c.txt", "new.txt", "gone.txt", "extra.txt"};
            for (long round = 0; !done.load() || round < 50; ++round) {
                const std::string path = paths[(round + t) % 5];
                const zlk_archive* archive = nullptr;
                std::uint64_t found = 0;
                const zlk_status status = zlk_mounts_find(mounts_, path.data(), path.size(), &archive, &found);
                if (status == ZLK_OK && archive != base && archive != patch) {
                    // The third archive's: not read, it may be going.
                    if (path != "a.txt" && path != "extra.txt")
                        ++failures;
                    continue;
                }
                if (stays.count(path) == 0) {
                    if (status != ZLK_NOT_FOUND)
                        ++failures;
                    continue;
                }
                std::string content(stays.at(path).size(), '\0');
                zlk_error error;
                if (status != ZLK_OK || zlk_read(archive, found, content.data(), content.size(), &error) != ZLK_OK ||
                    content != stays.at(path))
                    ++failures;
                if (round % 16 == 0) {
                    long names = 0;
                    zlk_mounts_list(mounts_, "", 0, ZLK_LIST_RECURSIVE,
                                    [](void* opaque, const zlk_listing*) {
                                        ++*static_cast<long*>(opaque);
                                        return 0;
                                    },
                                    &names);
                    if (names != 4 && names != 5)
                        ++failures;
                }
            }
        });
    }
    for (int cycle = 0; cycle < 20; ++cycle) {
        ASSERT_EQ(Mount("extra.pak", 20), ZLK_OK) << error_.message;
        std::this_thread::yield();
        ASSERT_EQ(zlk_unmount(mounts_, Path("extra.pak").c_str()), ZLK_OK);
    }
    done = true;
    for (std::thread& reader : readers)
        reader.join();
    EXPECT_EQ(failures.load(), 0);
    EXPECT_EQ(Lookup("a.txt"), "patch a");
}

}  // namespace
}  // namespace zelkor
