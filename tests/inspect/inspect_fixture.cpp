#include "inspect_fixture.h"


#include <xxhash.h>

#include "archive/archive_format.h"
#include "archive/archive_writer.h"
#include "archive/entry_codec.h"
#include "support/test_data.h"

namespace zelkor::testing {

namespace fs = std::filesystem;

void InspectTest::WriteSources()
{
    const std::string noise = RandomBytes(5000, 7);
    std::string level;
    for (int i = 0; i < 3000; ++i)
        level += "row " + std::to_string(i % 17) + "\n";
    sources_ = {
        {"readme.txt", "Read me first.\n"},
        {"textures/Logo.png", noise},
        {"levels/empty.txt", ""},
        {"levels/deep/er/level1.txt", level},
    };
    for (const auto& [name, content] : sources_)
        dir_.Write("src/" + name, content);
}

void InspectTest::Pack(const std::string& archive, bool keyFile, const std::string& attributes)
{
    std::string script = "<ScriptFile><CreateOrvanPack ArchivePath=\"" + archive + "\" BuildKeyfile=\"" +
                         (keyFile ? "true" : "false") + "\" " + attributes + ">\n";
    for (const auto& [name, content] : sources_)
        script += "<File ArchivedPath=\"" + name + "\"><![CDATA[src/" + name + "]]></File>\n";
    script += "</CreateOrvanPack></ScriptFile>\n";
    dir_.Write("pack.xml", script);
    const ToolRun run = RunZelkor({"pack.xml"}, dir_.path());
    ASSERT_EQ(run.status, 0) << run.err;
}

void InspectTest::Craft(const std::string& archive, const Entries& entries, bool keyFile)
{
    const std::string archivePath = (dir_ / archive).string();
    const std::string keyPath = archivePath + ".zlk";
    ArchiveWriter writer;
    ASSERT_TRUE(writer.Create(archivePath, keyFile ? &keyPath : nullptr));
    for (const auto& [name, content] : entries) {
        std::vector<std::uint8_t> bytes(content.begin(), content.end());
        LoadedFile raw{bytes, bytes.size(), XXH32(bytes.data(), bytes.size(), ArchiveMagic)};
        ASSERT_TRUE(writer.AddFile(name, raw));
    }
    writer.Close();
}

void InspectTest::CraftEmptyEntries(const std::string& archive, std::size_t count)
{
    CraftRecords(archive, count, [](std::size_t i) { return Record{"e/" + std::to_string(i), 0, 0}; });
}

void InspectTest::CraftRecords(const std::string& archive, std::size_t count,
                               const std::function<Record(std::size_t)>& describe)
{
    std::string archiveBytes(ArchiveHeader::Size, '\0');
    ArchiveHeader().EncodeTo(std::span<std::uint8_t, ArchiveHeader::Size>(
        reinterpret_cast<std::uint8_t*>(archiveBytes.data()), ArchiveHeader::Size));
    // Any shares but zero ones (refused as planted) will do for empty entries.
    std::string keyBytes(KeyFileHeader::Size, '\x5a');
    const std::uint32_t emptyHash = EntryCodec::ContentHash({});
    for (std::size_t i = 0; i < count; ++i) {
        const Record record = describe(i);
        FileEntry fields;
        fields.rawSize = record.rawSize;
        fields.storedSize = record.storedSize;
        fields.contentHash = emptyHash;
        fields.dataOffset = static_cast<std::uint32_t>(archiveBytes.size() + FileEntry::Size);
        fields.nameHash = NameHash(record.name);
        std::uint8_t encoded[FileEntry::Size];
        fields.EncodeTo(std::span<std::uint8_t, FileEntry::Size>(encoded, FileEntry::Size));
        archiveBytes.append(reinterpret_cast<const char*>(encoded), FileEntry::Size);
        archiveBytes.append(record.storedSize, '\0');
        const std::vector<std::uint8_t> name = NameRecord{record.name, emptyHash}.Encode();
        keyBytes.append(name.begin(), name.end());
    }
    dir_.Write(archive, archiveBytes);
    dir_.Write(archive + ".zlk", keyBytes);
}

std::map<std::string, std::string> InspectTest::Tree(const std::string& relative) const
{
    std::map<std::string, std::string> files;
    const fs::path root = dir_ / relative;
    if (!fs::exists(root))
        return files;
    for (const auto& item : fs::recursive_directory_iterator(root)) {
        if (!item.is_regular_file() || item.is_symlink())
            continue;
        // UTF-8 with slashes, as the archive names them, on every system.
        const std::u8string name = fs::relative(item.path(), root).generic_u8string();
        files[std::string(name.begin(), name.end())] = ReadFile(item.path());
    }
    return files;
}

std::size_t Count(const std::string& text, const std::string& needle)
{
    std::size_t count = 0;
    for (std::size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1))
        ++count;
    return count;
}

}  // namespace zelkor::testing
