#include "pack/previous_build.h"

#include <algorithm>
#include <cstring>

namespace zelkor {

std::size_t PreviousBuild::DigestHash::operator()(const BuildRecords::Digest& digest) const
{
    std::size_t value;
    std::memcpy(&value, digest.data(), sizeof value);
    return value;
}

std::unique_ptr<PreviousBuild> PreviousBuild::Open(const std::string& archivePath, BuildRecords::Record record,
                                                   const ArchiveHeader& header, const StatusRecords& sources)
{
    if (record.entries.empty())
        return nullptr;
    File archive = File::OpenRegular(archivePath, OpenFlags::Read);
    if (!archive.IsOpen())
        return nullptr;
    // The status of the open file itself, with its mount: the name may have
    // been given to another file since it was looked up.
    const std::optional<FileStatus> opened = archive.Status();
    if (!opened || !opened->IsRegular() || !opened->keepsChangeTime || RecordedStatus::Of(*opened) != record.archive)
        return nullptr;
    std::uint8_t expected[ArchiveHeader::Size];
    header.EncodeTo(expected);
    std::uint8_t found[ArchiveHeader::Size];
    if (archive.ReadAt(0, found, sizeof found) != sizeof found || !std::equal(found, found + sizeof found, expected))
        return nullptr;
    return std::unique_ptr<PreviousBuild>(new PreviousBuild(std::move(archive), std::move(record), sources));
}

PreviousBuild::PreviousBuild(File archive, BuildRecords::Record record, const StatusRecords& sources)
    : archive_(std::move(archive)), record_(std::move(record)), sources_(sources)
{
    // Only entries that lie within the archive as the format lays them out; the
    // first of several from one source serves them all (they hold the same bytes).
    const std::uint64_t size = record_.archive.size;
    for (const Entry& entry : record_.entries) {
        const FileEntry& e = entry.entry;
        if (e.storedSize <= e.rawSize && e.dataOffset >= ArchiveHeader::Size + FileEntry::Size &&
            std::uint64_t{e.dataOffset} + e.storedSize <= size)
            bySource_.emplace(entry.source, &entry);
    }
}

const PreviousBuild::Entry* PreviousBuild::Find(const std::string& name, const FileStatus& status,
                                                bool storeRaw) const
{
    if (!status.IsRegular() || !status.keepsChangeTime)
        return nullptr;
    const auto found = bySource_.find(BuildRecords::SourceOf(name, RecordedStatus::Of(status), storeRaw));
    if (found == bySource_.end())
        return nullptr;
    const Entry& entry = *found->second;
    if (entry.entry.rawSize != status.size || !sources_.Fresh(entry.proven))
        return nullptr;
    return &entry;
}

bool PreviousBuild::Read(const Entry& entry, std::span<std::uint8_t> out) const
{
    if (out.size() != RangeSize(entry))
        return false;
    const std::uint64_t offset = entry.entry.dataOffset - FileEntry::Size;
    if (archive_.ReadAt(offset, out.data(), out.size()) != out.size())
        return false;
    const FileEntry found = FileEntry::DecodeFrom(out.first<FileEntry::Size>());
    return found == entry.entry && StoredHash::Of(out.subspan(FileEntry::Size)) == entry.stored;
}

}  // namespace zelkor
