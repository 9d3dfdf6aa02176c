#include "archive/archive_reader.h"

#include <stdexcept>

#include "archive/archive_crypto.h"
#include "archive/entry_codec.h"
#include "platform/hex.h"

namespace zelkor {

namespace {

// Read-ahead of a walk. Records of entries with content lie apart, so the
// archive's buffer is kept small; name records follow each other, and the key
// file's buffer holds the longest one whole.
constexpr std::size_t RecordBuffer = 16 * 1024;
constexpr std::size_t NameBuffer = 128 * 1024;

// A key file whose records do not fit the archive: either one of the two files
// is damaged, or the key file belongs to another archive. Which one is decided
// once the whole structure has been seen (CheckStructure).
class KeyFileMismatch : public ArchiveFormatError {
public:
    KeyFileMismatch(const std::string& path, const std::string& fault, bool nameFits)
        : ArchiveFormatError(path + ": " + fault), fault_(fault), nameFits_(nameFits)
    {
    }

    const std::string& Fault() const { return fault_; }
    // Whether the record's name hashes to its entry's name hash, as in the
    // entry's own key file.
    bool NameFits() const { return nameFits_; }

private:
    std::string fault_;
    bool nameFits_;
};

// Opens a file to read, refusing anything but a regular file without waiting on
// it; gives its length.
File OpenForReading(const std::string& path, std::uint64_t& size)
{
    FileStatus status;
    File file = File::OpenRegular(path, OpenFlags::Read, &status);
    if (!file.IsOpen())
        throw std::runtime_error("Cannot open " + path + "!");
    size = status.size;
    return file;
}

// Reads exactly `size` bytes. False at the end of the file; throws on a read
// error.
bool ReadExactly(SequentialReader& in, const File& file, void* data, std::size_t size)
{
    const std::optional<std::size_t> got = in.Read(data, size);
    if (!got)
        throw std::runtime_error("Cannot read " + file.Path() + "!");
    return *got == size;
}

std::string At(std::uint64_t offset)
{
    return " at offset " + std::to_string(offset);
}

}  // namespace

ArchiveReader::Walk::Walk(const ArchiveReader& reader, bool withNames)
    : reader_(&reader), records_(reader.archive_, ArchiveHeader::Size, RecordBuffer)
{
    if (withNames)
        names_.emplace(reader.keyFile_, KeyFileHeader::Size, NameBuffer);
}

bool ArchiveReader::Walk::Next(Entry& entry)
{
    const ArchiveReader& reader = *reader_;
    if (records_.Position() >= reader.archiveSize_) {
        if (names_ && names_->Position() < reader.keyFileSize_)
            throw KeyFileMismatch(reader.keyFile_.Path(),
                                  "holds more NameRecords than the archive's " + std::to_string(index_) +
                                      " entries",
                                  true);
        return false;
    }
    entry.position = {index_, records_.Position(), 0};
    entry.fields = reader.ReadFileEntry(records_);
    records_.Skip(entry.fields.storedSize);
    entry.name.clear();
    if (names_) {
        if (names_->Position() >= reader.keyFileSize_)
            throw KeyFileMismatch(reader.keyFile_.Path(),
                                  "holds " + std::to_string(index_) + " NameRecords for the archive's " +
                                      std::to_string(reader.entryCount_) + " entries",
                                  true);
        entry.position.nameOffset = names_->Position();
        reader.ReadNameRecord(*names_, entry);
    }
    ++index_;
    return true;
}

ArchiveReader::ArchiveReader(const std::string& archivePath, const std::string* keyPath)
{
    PrepareCrypto();
    archive_ = OpenForReading(archivePath, archiveSize_);
    std::uint8_t header[ArchiveHeader::Size];
    const std::optional<std::size_t> got = archive_.ReadAt(0, header, sizeof header);
    if (!got)
        throw std::runtime_error("Cannot read " + archivePath + "!");
    if (*got < sizeof header)
        Fail(archivePath, "truncated ArchiveHeader");
    header_ = ArchiveHeader::DecodeFrom(header);
    if (header_.magic != ArchiveMagic)
        Fail(archivePath, "not an archive (bad magic number)");

    if (keyPath) {
        keyFile_ = OpenForReading(*keyPath, keyFileSize_);
        std::uint8_t keyHeader[KeyFileHeader::Size];
        const std::optional<std::size_t> keyGot = keyFile_.ReadAt(0, keyHeader, sizeof keyHeader);
        if (!keyGot)
            throw std::runtime_error("Cannot read " + *keyPath + "!");
        if (*keyGot < sizeof keyHeader)
            Fail(*keyPath, "truncated KeyFileHeader");
        keyHeader_ = KeyFileHeader::DecodeFrom(keyHeader);
        // Planted beside an archive built without a key file, such shares would
        // decode it and give its entries whatever names the file holds.
        if (ArchiveKey::LeavesKeyAlone(*keyHeader_))
            throw ArchiveFormatError(*keyPath + " is not the key file of " + archivePath +
                                         " (its key and IV shares are zero and leave the archive's own key"
                                         " as it is, which no archive's key file does)",
                                     ArchiveFormatError::Cause::ForeignKeyFile);
    }
    key_ = ArchiveKey::FromShares(header_, keyHeader_ ? &*keyHeader_ : nullptr);
    CheckStructure();
}

void ArchiveReader::CheckStructure()
{
    // The archive alone first: that gives the number of records the key file must
    // hold, and the smallest entry with content, with which the key file's shares
    // can be tried when its records do not fit.
    Entry entry;
    std::optional<Entry> probe;
    for (Walk walk(*this, false); walk.Next(entry); ++entryCount_) {
        if (entry.fields.rawSize > 0 && (!probe || entry.fields.storedSize < probe->fields.storedSize))
            probe = entry;
    }
    if (!keyFile_.IsOpen())
        return;
    try {
        for (Walk walk(*this, true); walk.Next(entry);) {
        }
    } catch (const KeyFileMismatch& mismatch) {
        // A key file whose shares decode an entry belongs to this archive, and a
        // record of it is damaged. Shares that do not are another archive's
        // (another build of the same names also gives records that fit).
        bool foreign = !mismatch.NameFits();
        if (probe) {
            std::vector<std::uint8_t> content;
            foreign = ReadContent(*probe, content) != ContentStatus::Ok;
        }
        if (!foreign)
            throw;
        throw ArchiveFormatError(keyFile_.Path() + " is not the key file of " + archive_.Path() + " (" +
                                     mismatch.Fault() + ")",
                                 ArchiveFormatError::Cause::ForeignKeyFile);
    }
}

FileEntry ArchiveReader::ReadFileEntry(SequentialReader& records) const
{
    const std::string& path = archive_.Path();
    const std::uint64_t offset = records.Position();
    std::uint8_t bytes[FileEntry::Size];
    if (archiveSize_ - offset < sizeof bytes || !ReadExactly(records, archive_, bytes, sizeof bytes))
        Fail(path, "truncated FileEntry" + At(offset));
    const FileEntry fields = FileEntry::DecodeFrom(bytes);
    // Equality in 64 bits also refuses an entry beyond the 32-bit range.
    if (fields.dataOffset != offset + FileEntry::Size)
        Fail(path, "FileEntry" + At(offset) + " gives dataOffset " + std::to_string(fields.dataOffset) +
                       " instead of " + std::to_string(offset + FileEntry::Size));
    if (fields.storedSize > fields.rawSize)
        Fail(path, "FileEntry" + At(offset) + " stores more bytes (" + std::to_string(fields.storedSize) +
                       ") than its raw size (" + std::to_string(fields.rawSize) + ")");
    const std::uint64_t end = std::uint64_t{fields.dataOffset} + fields.storedSize;
    if (end > archiveSize_)
        Fail(path, "stored bytes of the FileEntry" + At(offset) + " end at " + std::to_string(end) +
                       ", past the end of the file at " + std::to_string(archiveSize_));
    return fields;
}

void ArchiveReader::ReadNameRecord(SequentialReader& names, Entry& entry) const
{
    const std::string& path = keyFile_.Path();
    const std::uint64_t offset = names.Position();
    std::uint8_t length[NameRecord::LengthSize];
    if (offset > keyFileSize_ || keyFileSize_ - offset < sizeof length ||
        !ReadExactly(names, keyFile_, length, sizeof length))
        Fail(path, "truncated NameRecord" + At(offset));
    const std::size_t nameLength = NameRecord::DecodeNameLength(length);
    // Checked against the file's length before the name's storage is sized.
    if (keyFileSize_ - offset - sizeof length < nameLength + NameRecord::HashSize)
        Fail(path, "truncated NameRecord" + At(offset));
    entry.name.resize(nameLength);
    std::uint8_t hash[NameRecord::HashSize];
    if (!ReadExactly(names, keyFile_, entry.name.data(), nameLength) ||
        !ReadExactly(names, keyFile_, hash, sizeof hash))
        Fail(path, "truncated NameRecord" + At(offset));
    const std::uint32_t contentHash = DecodeFixed32(hash);
    if (contentHash != entry.fields.contentHash)
        throw KeyFileMismatch(path,
                              "NameRecord" + At(offset) + " has content hash " + Hex32(contentHash) +
                                  ", but its entry " + std::to_string(entry.position.index) + " has " +
                                  Hex32(entry.fields.contentHash),
                              NameHash(entry.name) == entry.fields.nameHash);
}

ArchiveReader::Entry ArchiveReader::ReadEntry(const Position& position) const
{
    Entry entry;
    entry.position = position;
    if (position.offset < ArchiveHeader::Size || position.offset >= archiveSize_)
        Fail(archive_.Path(), "no FileEntry" + At(position.offset));
    SequentialReader records(archive_, position.offset, FileEntry::Size);
    entry.fields = ReadFileEntry(records);
    if (keyFile_.IsOpen()) {
        if (position.nameOffset < KeyFileHeader::Size)
            Fail(keyFile_.Path(), "no NameRecord" + At(position.nameOffset));
        SequentialReader names(keyFile_, position.nameOffset, NameRecord::LengthSize);
        ReadNameRecord(names, entry);
    }
    return entry;
}

ArchiveReader::ContentStatus ArchiveReader::ReadContent(const Entry& entry, std::vector<std::uint8_t>& content,
                                                        const ArchiveKey& key) const
{
    // Refuse a compressed entry that no LZ4 block could produce before allocating
    // rawSize bytes for it.
    if (!EntryCodec::CouldDecode(entry.fields.rawSize, entry.fields.storedSize))
        return ContentStatus::BadCompression;
    const std::uint64_t end = std::uint64_t{entry.fields.dataOffset} + entry.fields.storedSize;
    if (end > archiveSize_)
        Fail(archive_.Path(), "stored bytes of the FileEntry" + At(entry.position.offset) + " are gone");

    std::vector<std::uint8_t> stored(entry.fields.storedSize);
    const std::optional<std::size_t> got = archive_.ReadAt(entry.fields.dataOffset, stored.data(), stored.size());
    if (!got)
        throw std::runtime_error("Cannot read " + archive_.Path() + "!");
    if (*got != stored.size())
        Fail(archive_.Path(), "stored bytes of the FileEntry" + At(entry.position.offset) + " are gone");
    key.Decrypt(stored);
    return EntryCodec::Decode(std::move(stored), entry.fields.rawSize, entry.fields.contentHash, content);
}

void ArchiveReader::Fail(const std::string& path, const std::string& fault) const
{
    throw ArchiveFormatError(path + ": " + fault);
}

}  // namespace zelkor
