#include "archive/records_digest.h"

namespace zelkor {

void RecordsDigest::Header(const ArchiveHeader& header)
{
    std::uint8_t bytes[ArchiveHeader::Size];
    header.EncodeTo(bytes);
    hasher_.Update(bytes, sizeof bytes);
}

void RecordsDigest::Entry(const FileEntry& entry)
{
    std::uint8_t bytes[FileEntry::Size];
    entry.EncodeTo(bytes);
    hasher_.Update(bytes, sizeof bytes);
}

std::uint64_t RecordsDigest::Value() const
{
    return hasher_.Digest();
}

std::uint64_t RecordsDigest::KeyFile(const KeyFileHeader& header)
{
    std::uint8_t bytes[KeyFileHeader::Size];
    header.EncodeTo(bytes);
    Xxh64Hasher hasher;
    hasher.Update(bytes, sizeof bytes);
    return hasher.Digest();
}

}  // namespace zelkor
