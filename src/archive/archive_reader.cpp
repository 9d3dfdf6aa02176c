#include "archive/archive_reader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include <cryptopp/aes.h>
#include <cryptopp/modes.h>
#include <lz4.h>
#include <xxhash.h>

#include "archive/archive_writer.h"

namespace zelkor {

namespace {

// An LZ4 block yields fewer than 255 bytes for each of its own: the longest
// match costs a token, an offset and one byte per further 255 bytes.
constexpr std::uint64_t MaxExpansion = 255;

// Opens a file to read, refusing anything but a regular file without waiting on
// it; gives its length.
File OpenForReading(const std::string& path, std::uint64_t& size)
{
    File file = File::Open(path, O_RDONLY | O_NONBLOCK);
    struct stat info;
    if (!file.IsOpen() || ::fstat(file.Descriptor(), &info) != 0 || !S_ISREG(info.st_mode))
        throw std::runtime_error("Cannot open " + path + "!");
    size = static_cast<std::uint64_t>(info.st_size);
    return file;
}

// Reads exactly `size` bytes at `offset` without moving the file's position, so
// that several threads can read one file. False at the end of the file; throws
// on a read error.
bool ReadAt(const File& file, std::uint64_t offset, void* data, std::size_t size)
{
    auto* bytes = static_cast<std::uint8_t*>(data);
    while (size > 0) {
        const ssize_t got = ::pread(file.Descriptor(), bytes, size, static_cast<off_t>(offset));
        if (got < 0) {
            if (errno == EINTR)
                continue;
            throw std::runtime_error("Cannot read " + file.Path() + "!");
        }
        if (got == 0)
            return false;
        bytes += got;
        offset += static_cast<std::uint64_t>(got);
        size -= static_cast<std::size_t>(got);
    }
    return true;
}

std::string At(std::uint64_t offset)
{
    return " at offset " + std::to_string(offset);
}

}  // namespace

ArchiveReader::ArchiveReader(const std::string& archivePath, const std::string* keyPath)
{
    ArchiveWriter::PrepareCrypto();
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
        const std::size_t nameLength = DecodeFixed16(length);
        const std::size_t rest = nameLength + NameRecord::HashSize;
        std::uint8_t* name = record.data() + NameRecord::LengthSize;
        if (keyFileSize - offset - NameRecord::LengthSize < rest ||
            !ReadAt(keyFile, offset + NameRecord::LengthSize, name, rest))
            Fail(path, "truncated NameRecord" + At(offset));
        const std::uint32_t contentHash = DecodeFixed32(name + nameLength);
        Entry& entry = entries_[index];
        if (contentHash != entry.fields.contentHash)
            Fail(path, "NameRecord" + At(offset) + " has content hash " + std::to_string(contentHash) +
                           ", its entry " + std::to_string(entry.fields.contentHash));
        entry.name.assign(reinterpret_cast<const char*>(name), nameLength);
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
    const std::uint32_t rawSize = entry.fields.rawSize;
    const std::uint32_t storedSize = entry.fields.storedSize;
    const bool compressed = storedSize < rawSize;
    // Refuse a compressed entry that no LZ4 block could produce before allocating
    // rawSize bytes for it.
    if (compressed && (rawSize > LZ4_MAX_INPUT_SIZE || rawSize > MaxExpansion * storedSize))
        return ContentStatus::BadCompression;

    std::vector<std::uint8_t> stored(storedSize);
    if (!ReadAt(archive_, entry.fields.dataOffset, stored.data(), stored.size()))
        Fail(archive_.Path(), "stored bytes of the FileEntry" + At(entry.offset) + " are gone");
    if (storedSize > 0) {
        CryptoPP::CFB_Mode<CryptoPP::AES>::Decryption cipher(key_.key.data(), KeySize, key_.iv.data());
        cipher.ProcessData(stored.data(), stored.data(), stored.size());
    }

    if (compressed) {
        content.assign(rawSize, 0);
        const int produced = LZ4_decompress_safe(reinterpret_cast<const char*>(stored.data()),
                                                 reinterpret_cast<char*>(content.data()),
                                                 static_cast<int>(storedSize), static_cast<int>(rawSize));
        if (produced < 0 || static_cast<std::uint32_t>(produced) != rawSize)
            return ContentStatus::BadCompression;
    } else {
        content = std::move(stored);
    }
    if (XXH32(content.data(), content.size(), ArchiveMagic) != entry.fields.contentHash)
        return ContentStatus::HashMismatch;
    return ContentStatus::Ok;
}

const char* ArchiveReader::Describe(ContentStatus status)
{
    switch (status) {
    case ContentStatus::Ok:
        return "ok";
    case ContentStatus::BadCompression:
        return "stored bytes do not decompress to the raw size";
    case ContentStatus::HashMismatch:
        return "content hash does not match";
    }
    return "unknown status";
}

void ArchiveReader::Fail(const std::string& path, const std::string& fault) const
{
    throw ArchiveFormatError(path + ": " + fault);
}

}  // namespace zelkor
