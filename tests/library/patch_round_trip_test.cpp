// A patch as a game ships it: a base built from a tree, the tree changed (files
// edited, added and removed), a patch built with PatchOf, and the base mounted
// with the patch above it through the library, which must read the new tree.
#include "zelkor/zelkor.h"

#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "archive/deletion_list.h"
#include "support/archive_contents.h"
#include "support/run_tool.h"
#include "support/temp_dir.h"
#include "support/test_data.h"

namespace zelkor {
namespace {

using testing::TempDir;
using Tree = std::map<std::string, std::string>;  // archived path -> content

class PatchRoundTripTest : public ::testing::Test {
protected:
    // A pack command over `tree`, its sources written below `root`.
    std::string Command(const std::string& archive, const std::string& root, const Tree& tree,
                        const std::string& attributes = "")
    {
        std::string command = "<CreateOrvanPack ArchivePath=\"" + archive + "\" BuildKeyfile=\"true\"" + attributes + ">\n";
        for (const auto& [name, content] : tree) {
            dir_.Write(root + "/" + name, content);
            command += "<File ArchivedPath=\"" + name + "\"><![CDATA[" + root + "/" + name + "]]></File>\n";
        }
        return command + "</CreateOrvanPack>\n";
    }

    testing::ToolRun Pack(const std::string& commands)
    {
        dir_.Write("script.xml", "<ScriptFile>\n" + commands + "</ScriptFile>\n");
        return testing::RunZelkor({"script.xml"}, dir_.path());
    }

    // Every entry of an archive by name: its content and stored size.
    std::map<std::string, std::pair<std::string, bool>> Entries(const std::string& archive)
    {
        std::map<std::string, std::pair<std::string, bool>> entries;
        for (const testing::ArchivedFile& file : testing::ReadArchive(dir_ / archive, dir_ / (archive + ".zlk")))
            entries[file.name] = {file.content, file.compressed};
        return entries;
    }

    // What a lookup through base and patch mounted together reads.
    std::optional<std::string> Lookup(zlk_mounts* mounts, const std::string& path)
    {
        const zlk_archive* archive = nullptr;
        std::uint64_t index = 0;
        if (zlk_mounts_find(mounts, path.data(), path.size(), &archive, &index) != ZLK_OK)
            return std::nullopt;
        zlk_entry entry;
        EXPECT_EQ(zlk_entry_at(archive, index, &entry), ZLK_OK);
        std::string content(entry.raw_size, '\0');
        zlk_error error;
        EXPECT_EQ(zlk_read(archive, index, content.data(), content.size(), &error), ZLK_OK) << error.message;
        return content;
    }

    TempDir dir_;
};

TEST_F(PatchRoundTripTest, BaseAndPatchMountedTogetherReadTheNewTree)
{
    const Tree before = {{"textures/hero.png", testing::RandomBytes(40000, 1)},
                         {"levels/one.map", testing::CompressibleText(90000, 2)},
                         {"levels/two.map", testing::CompressibleText(30000, 3)},
                         {"sounds/step.ogg", testing::RandomBytes(7000, 4)},
                         {"old/readme.txt", "read me"},
                         {"old/credits.txt", "the team"},
                         {"empty.txt", ""}};
    Tree after = before;
    after["levels/one.map"] = testing::CompressibleText(90000, 5);  // edited, same size
    after["sounds/step.ogg"] = testing::RandomBytes(7001, 4);       // edited, one byte longer
    after["levels/three.map"] = testing::CompressibleText(20000, 6);  // added
    after["new.txt"] = "";                                             // added, empty
    after.erase("old/readme.txt");                                     // removed
    after.erase("old/credits.txt");
    const std::set<std::string> changed = {"levels/one.map", "levels/three.map", "new.txt", "sounds/step.ogg"};

    ASSERT_EQ(Pack(Command("base.pak", "v1", before)).status, 0);
    const testing::ToolRun run = Pack(Command("patch.pak", "v2", after, " PatchOf=\"base.pak\"") +
                                      Command("full.pak", "v2", after));
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, testing::Banner(1) + "patch.pak: a patch of base.pak: 4 entries stored, 2 deleted\n");

    // The patch holds exactly the changed and added entries, stored as the
    // full build stores them: its size is theirs plus the format's overhead.
    const auto patch = Entries("patch.pak");
    const auto full = Entries("full.pak");
    std::set<std::string> held;
    for (const auto& [name, entry] : patch) {
        held.insert(name);
        EXPECT_EQ(entry, full.at(name)) << name;
    }
    EXPECT_EQ(held, changed);
    std::uint64_t expected = 68;
    zlk_archive* fullArchive = nullptr;
    ASSERT_EQ(zlk_open((dir_ / "full.pak").string().c_str(), (dir_ / "full.pak.zlk").string().c_str(), &fullArchive, nullptr), ZLK_OK);
    for (std::uint64_t i = 0; i < zlk_entry_count(fullArchive); ++i) {
        zlk_entry entry;
        ASSERT_EQ(zlk_entry_at(fullArchive, i, &entry), ZLK_OK);
        if (changed.count(std::string(entry.name, entry.name_length)))
            expected += 20 + entry.stored_size;
    }
    zlk_close(fullArchive);
    EXPECT_EQ(std::filesystem::file_size(dir_ / "patch.pak"), expected);

    const std::string bytes = dir_.Read("patch.pak.del");
    const DeletionList list =
        DeletionList::Decode(std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()), "del");
    EXPECT_EQ(list.names, (std::vector<std::string>{"old/credits.txt", "old/readme.txt"}));
    EXPECT_EQ(list.patch.entries, 4u);
    EXPECT_EQ(list.base.entries, before.size());

    zlk_mounts* mounts = nullptr;
    ASSERT_EQ(zlk_mounts_create(&mounts), ZLK_OK);
    zlk_error error;
    ASSERT_EQ(zlk_mount(mounts, (dir_ / "base.pak").string().c_str(), nullptr, 0, &error), ZLK_OK) << error.message;
    ASSERT_EQ(zlk_mount(mounts, (dir_ / "patch.pak").string().c_str(), nullptr, 1, &error), ZLK_OK) << error.message;
    for (const auto& [name, content] : after)
        EXPECT_EQ(Lookup(mounts, name), content) << name;
    for (const std::string name : {"old/readme.txt", "OLD\\Credits.txt"})
        EXPECT_EQ(Lookup(mounts, name), std::nullopt) << name;
    std::vector<std::string> listed;
    zlk_mounts_list(mounts, "", 0, ZLK_LIST_RECURSIVE,
                    [](void* opaque, const zlk_listing* item) {
                        static_cast<std::vector<std::string>*>(opaque)->emplace_back(item->path, item->path_length);
                        return 0;
                    },
                    &listed);
    std::vector<std::string> names;
    for (const auto& [name, content] : after)
        names.push_back(name);
    EXPECT_EQ(listed, names);
    zlk_mounts_destroy(mounts);
}

// A base built as a volume set, and a patch of it written as a set too: the
// patch's identity spans its volumes, its deletion list lies beside its first
// volume, and both mount as archives do.
TEST_F(PatchRoundTripTest, SetsServeAsBaseAndAsPatch)
{
    Tree before;
    for (unsigned i = 0; i < 12; ++i)
        before["data/file" + std::to_string(i) + ".bin"] = testing::RandomBytes(3000 + i, i);
    Tree after = before;
    for (unsigned i : {2u, 7u, 9u})
        after["data/file" + std::to_string(i) + ".bin"] = testing::RandomBytes(3000 + i, 100 + i);
    after["data/added.bin"] = testing::RandomBytes(5000, 50);
    after.erase("data/file4.bin");

    ASSERT_EQ(Pack(Command("base.pak", "v1", before, " VolumeSize=\"8K\"")).status, 0);
    ASSERT_TRUE(std::filesystem::exists(dir_ / "base_003.pak"));
    const testing::ToolRun run = Pack(Command("patch.pak", "v2", after, " PatchOf=\"base.pak\" VolumeSize=\"8K\""));
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, testing::Banner(1) + "patch.pak: a patch of base.pak: 4 entries stored, 1 deleted\n");
    EXPECT_TRUE(std::filesystem::exists(dir_ / "patch_001.pak"));
    EXPECT_TRUE(std::filesystem::exists(dir_ / "patch.pak.del"));

    zlk_mounts* mounts = nullptr;
    ASSERT_EQ(zlk_mounts_create(&mounts), ZLK_OK);
    zlk_error error;
    ASSERT_EQ(zlk_mount(mounts, (dir_ / "base.pak").string().c_str(), nullptr, 0, &error), ZLK_OK) << error.message;
    ASSERT_EQ(zlk_mount(mounts, (dir_ / "patch.pak").string().c_str(), nullptr, 1, &error), ZLK_OK) << error.message;
    for (const auto& [name, content] : after)
        EXPECT_EQ(Lookup(mounts, name), content) << name;
    EXPECT_EQ(Lookup(mounts, "data/file4.bin"), std::nullopt);
    zlk_mounts_destroy(mounts);

    // A patch with a source stored raw large enough to be streamed as it is
    // written: the entry counts in the identity its deletion list names.
    after["movies/intro.bik"] = testing::RandomBytes((4 << 20) + 1, 60);
    ASSERT_EQ(Pack(Command("lone.pak", "v3", after, " PatchOf=\"base.pak\" Store=\"*.bik\"")).status, 0);
    ASSERT_EQ(zlk_mounts_create(&mounts), ZLK_OK);
    ASSERT_EQ(zlk_mount(mounts, (dir_ / "base.pak").string().c_str(), nullptr, 0, &error), ZLK_OK) << error.message;
    ASSERT_EQ(zlk_mount(mounts, (dir_ / "lone.pak").string().c_str(), nullptr, 1, &error), ZLK_OK) << error.message;
    EXPECT_EQ(Lookup(mounts, "movies/intro.bik"), after["movies/intro.bik"]);
    EXPECT_EQ(Lookup(mounts, "data/file4.bin"), std::nullopt);
    zlk_mounts_destroy(mounts);
}

}  // namespace
}  // namespace zelkor
