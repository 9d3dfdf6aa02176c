#include "archive/archive_reader.h"

#include <fcntl.h>

#include <stdexcept>

#include "archive/archive_crypto.h"
#include "archive/entry_codec.h"

namespace zelkor {

namespace {

// Opens a file to read, refusing anything but a regular file without waiting on
// it; gives its length.
File OpenForReading(const std::string& path, std::uint64_t& size)
{
    File file = File::OpenRegular(path, O_RDONLY);
    const std::optional<FileStatus> status = file.IsOpen() ? file.Status() : std::nullopt;
    if (!status)
        throw std::runtime_error("Cannot open " + path + "!");
    size = status->size;
    return file;
}

// Reads exactly `size` bytes at `offset`. False at the end of the file; throws
// on a read error.
bool ReadAt(const File& file, std::uint64_t offset, void* data, std::size_t size)
{
    const std::optional<std::size_t> got = file.ReadAt(offset, data, size);
    if (!got)
        throw std::runtime_error("Cannot read " + file.Path() + "!");
    return *got == size;
}

std::string At(std::uint64_t offset)
{
    return " at offset " + std::to_string(offset);
}

}  // namespace

ArchiveReader::ArchiveReader(const std::string& archivePath, const std::string* keyPath)
{
    PrepareCrypto();
    archive_ = OpenForReading(archivePath, archiveSize_);
    std::uint8_t header[ArchiveHeader::Size];
    if (archiveSize_ < sizeof header || !ReadAt(archive_, 0, header, sizeof header))
        Fail(archivePath, "truncated ArchiveHeader");
    header_ = ArchiveHeader::DecodeFrom(header);
    if (header_.magic != ArchiveMagic)
        Fail(archivePath, "not an archive (bad magic number)");
    ReadEntries();

    if (keyPath) {
        std::uint64_t keyFileSize = 0;
        File keyFile = OpenForReading(*keyPath, keyFileSize);
        std::uint8_t keyHeader[KeyFileHeader::Size];
        if (keyFileSize < sizeof keyHeader || !ReadAt(keyFile, 0, keyHeader, sizeof keyHeader))
            Fail(*keyPath, "truncated KeyFileHeader");
        keyHeader_ = KeyFileHeader::DecodeFrom(keyHeader);
        ReadNames(keyFile, keyFileSize);
    }
    key_ = ArchiveKey::FromShares(header_, keyHeader_ ? &*keyHeader_ : nullptr);
}

void ArchiveReader::ReadEntries()
{
    const std::string& path = archive_.Path();
    std::uint64_t offset = ArchiveHeader::Size;
    while (offset < archiveSize_) {
        std::uint8_t bytes[FileEntry::Size];
        if (archiveSize_ - offset < sizeof bytes || !ReadAt(archive_, offset, bytes, sizeof bytes))
            Fail(path, "truncated FileEntry" + At(offset));
        const FileEntry fields = FileEntry::DecodeFrom(bytes);
        // Equality in 64 bits also refuses an entry beyond the 32-bit range.
        if (fields.dataOffset != offset + FileEntry::Size)
            Fail(path, "FileEntry" + At(offset) + " gives dataOffset " +
                           std::to_string(fields.dataOffset) + " instead of " +
                           std::to_string(offset + FileEntry::Size));
        if (fields.storedSize > fields.rawSize)
            Fail(path, "FileEntry" + At(offset) + " stores more bytes (" +
                           std::to_string(fields.storedSize) + ") than its raw size (" +
                           std::to_string(fields.rawSize) + ")");
        const std::uint64_t end = std::uint64_t{fields.dataOffset} + fields.storedSize;
        if (end > archiveSize_)
            Fail(path, "stored bytes of the FileEntry" + At(offset) + " end at " +
                           std::to_string(end) + ", past the end of the file at " +
                           std::to_string(archiveSize_));
        entries_.push_back(Entry{offset, fields, {}});
        offset = end;
    }
}

void ArchiveReader::ReadNames(File& keyFile, std::uint64_t keyFileSize)
{
    const std::string& path = keyFile.Path();
    std::uint64_t offset = KeyFileHeader::Size;
    std::size_t index = 0;
    // Large enough for any record; the length field cannot ask for more.
    std::vector<std::uint8_t> record(NameRecord::LengthSize + MaxNameLength + NameRecord::HashSize);
    while (offset < keyFileSize) {
        if (index == entries_.size())
            Fail(path, "holds more NameRecords than the archive's " + std::to_string(entries_.size()) +
                           " entries");
        std::uint8_t* length = record.data();
        if (keyFileSize - offset < NameRecord::LengthSize ||
            !ReadAt(keyFile, offset, length, NameRecord::LengthSize))
            Fail(path, "truncated NameRecord" + At(offset));
        const std::size_t nameLength = NameRecord::DecodeNameLength(std::span<const std::uint8_t, NameRecord::LengthSize>(length, NameRecord::LengthSize));
        const std::size_t rest = nameLength + NameRecord::HashSize;
        std::uint8_t* name = record.data() + NameRecord::LengthSize;
        if (keyFileSize - offset - NameRecord::LengthSize < rest ||
            !ReadAt(keyFile, offset + NameRecord::LengthSize, name, rest))
            Fail(path, "truncated NameRecord" + At(offset));
        NameRecord decoded = NameRecord::DecodeFrom(std::span(record.data(), NameRecord::LengthSize + rest));
        Entry& entry = entries_[index];
        if (decoded.contentHash != entry.fields.contentHash)
            Fail(path, "NameRecord" + At(offset) + " has content hash " + std::to_string(decoded.contentHash) +
                           ", its entry " + std::to_string(entry.fields.contentHash));
        entry.name = std::move(decoded.name);
        offset += NameRecord::LengthSize + rest;
        ++index;
    }
    if (index != entries_.size())
        Fail(path, "holds " + std::to_string(index) + " NameRecords for the archive's " +
                       std::to_string(entries_.size()) + " entries");
}

ArchiveReader::ContentStatus ArchiveReader::ReadContent(std::size_t index,
                                                        std::vector<std::uint8_t>& content) const
{
    const Entry& entry = entries_.at(index);
    // Refuse a compressed entry that no LZ4 block could produce before allocating
    // rawSize bytes for it.
    if (!EntryCodec::CouldDecode(entry.fields.rawSize, entry.fields.storedSize))
        return ContentStatus::BadCompression;

    std::vector<std::uint8_t> stored(entry.fields.storedSize);
    if (!ReadAt(archive_, entry.fields.dataOffset, stored.data(), stored.size()))
        Fail(archive_.Path(), "stored bytes of the FileEntry" + At(entry.offset) + " are gone");
    key_.Decrypt(stored);
    return EntryCodec::Decode(std::move(stored), entry.fields.rawSize, entry.fields.contentHash, content);
}

void ArchiveReader::Fail(const std::string& path, const std::string& fault) const
{
    throw ArchiveFormatError(path + ": " + fault);
}

}  // namespace zelkor
