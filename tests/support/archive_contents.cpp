#include "support/archive_contents.h"

#include <stdexcept>

#include "reader/archive_reader.h"

namespace zelkor::testing {

std::vector<ArchivedFile> ReadArchive(const std::filesystem::path& archive,
                                      const std::filesystem::path& key)
{
    const std::string keyPath = key.string();
    ArchiveReader reader(archive.string(), key.empty() ? nullptr : &keyPath);
    std::vector<ArchivedFile> files;
    std::vector<std::uint8_t> content;
    ArchiveReader::Entry entry;
    for (ArchiveReader::Walk walk = reader.Entries(); walk.Next(entry);) {
        const auto status = reader.ReadContent(entry, content);
        if (status != ArchiveReader::ContentStatus::Ok)
            throw std::runtime_error(archive.string() + ": entry " + std::to_string(entry.position.index) + " (" +
                                     entry.name + "): " + EntryReader::Describe(status));
        files.push_back({entry.name, std::string(content.begin(), content.end()),
                         entry.fields.storedSize < entry.fields.rawSize});
    }
    return files;
}

std::vector<ArchiveReader::Entry> AllEntries(const ArchiveReader& reader)
{
    std::vector<ArchiveReader::Entry> entries;
    ArchiveReader::Entry entry;
    for (ArchiveReader::Walk walk = reader.Entries(); walk.Next(entry);)
        entries.push_back(entry);
    return entries;
}

std::vector<std::string> ArchivedNames(const std::vector<ArchivedFile>& files)
{
    std::vector<std::string> names;
    for (const auto& file : files)
        names.push_back(file.name);
    return names;
}

std::vector<std::string> ArchivedContents(const std::vector<ArchivedFile>& files)
{
    std::vector<std::string> contents;
    for (const auto& file : files)
        contents.push_back(file.content);
    return contents;
}

}  // namespace zelkor::testing
