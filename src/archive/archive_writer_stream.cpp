#include "archive/archive_writer.h"

#include <algorithm>
#include <memory>
#include <stdexcept>

#include "archive/content_hasher.h"

// Entries whose raw bytes are streamed from their source into the archive,
// stored raw, rather than loaded whole first.

namespace zelkor {

ArchiveWriter::Streamed ArchiveWriter::AddStreamed(const std::string& archivedPath, const LoadedFile& file)
{
    if (!archive_ || !file.stream)
        throw std::logic_error("ArchiveWriter::AddStreamed without a created archive or a stream");
    File& archive = archive_->Output();
    const std::uint64_t size = file.rawSize;
    full_ = false;
    if (size >= ArchiveAddressLimit || archivedPath.size() > MaxNameLength ||
        archivedPath.find('\0') != std::string::npos)
        return Streamed::Refused;
    const auto position = archive.Position();
    if (!position)
        FailWriting(*archive_);
    if (!EntryFits(*position, size)) {
        full_ = EntryFits(ArchiveHeader::Size, size);
        return Streamed::Refused;
    }

    FileEntry entry;
    entry.rawSize = static_cast<std::uint32_t>(size);
    entry.contentHash = file.contentHash;
    entry.dataOffset = static_cast<std::uint32_t>(*position + FileEntry::Size);
    entry.storedSize = static_cast<std::uint32_t>(size);
    entry.nameHash = NameHash(archivedPath);
    std::uint8_t entryBytes[FileEntry::Size];
    entry.EncodeTo(entryBytes);
    if (!archive.WriteAll(entryBytes, sizeof entryBytes))
        FailWriting(*archive_);

    std::optional<StoredHash> digest;
    if (keepEntries_)
        digest.emplace();
    if (!CopyStream(file, digest)) {
        if (!archive.Truncate(*position) || !archive.Seek(*position))
            FailWriting(*archive_);
        return Streamed::Changed;
    }
    if (keyFile_) {
        const std::vector<std::uint8_t> record = NameRecord{archivedPath, file.contentHash}.Encode();
        if (!keyFile_->Output().WriteAll(record.data(), record.size()))
            FailWriting(*keyFile_);
    }
    if (digest)
        entries_.push_back({entry, digest->Finish()});
    const std::uint64_t end = *position + FileEntry::Size + size;
    digest_.Entry(entry);
    // A streamed entry is an entry of the archive's identity like any other.
    identity_.Add(entry);
    ++entryCount_;
    size_ = end;
    if (end - writebackFrom_ >= WritebackStep) {
        archive.StartWriteback(writebackFrom_, end - writebackFrom_);
        writebackFrom_ = end;
    }
    return Streamed::Added;
}

bool ArchiveWriter::CopyStream(const LoadedFile& file, std::optional<StoredHash>& digest)
{
    File& archive = archive_->Output();
    const std::uint64_t size = file.rawSize;
    // Each piece is hashed and encrypted while it is in the processor's cache.
    constexpr std::size_t Piece = 1024 * 1024;
    const auto buffer = std::make_unique_for_overwrite<std::uint8_t[]>(Piece);
    ArchiveKey::Stream cipher(key_);
    ContentHasher content;
    std::uint64_t done = 0;
    bool same = true;
    while (same && done < size) {
        const std::span<std::uint8_t> piece(buffer.get(), static_cast<std::size_t>(std::min<std::uint64_t>(Piece, size - done)));
        const std::optional<std::size_t> got = file.stream->ReadAt(done, piece);
        same = got == piece.size();
        if (!same)
            break;
        content.Update(piece);
        cipher.Encrypt(piece);
        if (digest)
            digest->Update(piece);
        if (!archive.WriteAll(piece.data(), piece.size()))
            FailWriting(*archive_);
        done += piece.size();
    }
    // A source that grew has bytes beyond the size measured.
    std::uint8_t beyond;
    return same && content.Digest() == file.contentHash &&
           file.stream->ReadAt(size, std::span(&beyond, 1)) == std::optional<std::size_t>(0);
}

}  // namespace zelkor
