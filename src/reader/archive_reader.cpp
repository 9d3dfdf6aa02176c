#include "reader/archive_reader.h"

#include "platform/hex.h"
#include "reader/file_source.h"
#include "reader/source_error.h"

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

// Reads exactly `size` bytes. False at the end of the source; throws on a read
// error.
bool ReadExactly(SourceCursor& in, const ByteSource& source, void* data, std::size_t size)
{
    const std::optional<std::size_t> got = in.Read(data, size);
    if (!got)
        throw SourceError::CannotRead(source.Name());
    return *got == size;
}

std::string At(std::uint64_t offset)
{
    return " at offset " + std::to_string(offset);
}

std::unique_ptr<ByteSource> OpenKeyFile(const std::string* keyPath)
{
    if (!keyPath)
        return nullptr;
    return std::make_unique<FileSource>(*keyPath);
}

}  // namespace

ArchiveReader::Walk::Walk(const ArchiveReader& reader, bool withNames, bool readNames)
    : reader_(&reader), records_(*reader.archive_, ArchiveHeader::Size, RecordBuffer, reader.memory_),
      readNames_(readNames)
{
    if (withNames)
        names_.emplace(*reader.keyFile_, KeyFileHeader::Size, NameBuffer, reader.memory_);
}

bool ArchiveReader::Walk::Next(Entry& entry)
{
    const ArchiveReader& reader = *reader_;
    const std::uint64_t archiveSize = reader.archive_->Size();
    if (records_.Position() >= archiveSize) {
        if (names_ && names_->Position() < reader.keyFile_->Size())
            throw KeyFileMismatch(reader.keyFile_->Name(),
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
        if (names_->Position() >= reader.keyFile_->Size())
            throw KeyFileMismatch(reader.keyFile_->Name(),
                                  "holds " + std::to_string(index_) + " NameRecords for the archive's " +
                                      std::to_string(reader.entryCount_) + " entries",
                                  true);
        entry.position.nameOffset = names_->Position();
        reader.ReadNameRecord(*names_, entry, readNames_);
    }
    ++index_;
    return true;
}

ArchiveReader::ArchiveReader(const std::string& archivePath, const std::string* keyPath)
    : archive_(std::make_unique<FileSource>(archivePath)), keyFile_(OpenKeyFile(keyPath)),
      memory_(std::pmr::get_default_resource())
{
    Open(nullptr);
}

ArchiveReader::ArchiveReader(std::unique_ptr<ByteSource> archive, std::unique_ptr<ByteSource> keyFile,
                             Visitor* visitor, std::pmr::memory_resource* memory)
    : archive_(std::move(archive)), keyFile_(std::move(keyFile)), memory_(memory)
{
    Open(visitor);
}

void ArchiveReader::Open(Visitor* visitor)
{
    const std::string& archivePath = archive_->Name();
    std::uint8_t header[ArchiveHeader::Size];
    const std::optional<std::size_t> got = archive_->ReadAt(0, header);
    if (!got)
        throw SourceError::CannotRead(archivePath);
    if (*got < sizeof header)
        Fail(archivePath, "truncated ArchiveHeader");
    header_ = ArchiveHeader::DecodeFrom(header);
    if (header_.magic != ArchiveMagic)
        Fail(archivePath, "not an archive (bad magic number)");

    if (keyFile_) {
        const std::string& keyPath = keyFile_->Name();
        std::uint8_t keyHeader[KeyFileHeader::Size];
        const std::optional<std::size_t> keyGot = keyFile_->ReadAt(0, keyHeader);
        if (!keyGot)
            throw SourceError::CannotRead(keyPath);
        if (*keyGot < sizeof keyHeader)
            Fail(keyPath, "truncated KeyFileHeader");
        keyHeader_ = KeyFileHeader::DecodeFrom(keyHeader);
        // Planted beside an archive built without a key file, such shares would
        // decode it and give its entries whatever names the file holds.
        if (ArchiveKey::LeavesKeyAlone(*keyHeader_))
            throw ArchiveFormatError(keyPath + " is not the key file of " + archivePath +
                                         " (its key and IV shares are zero and leave the archive's own key"
                                         " as it is, which no archive's key file does)",
                                     ArchiveFormatError::Cause::ForeignKeyFile);
    }
    cipher_ = std::make_unique<EntryCipher>(ArchiveKey::FromShares(header_, keyHeader_ ? &*keyHeader_ : nullptr));
    if (visitor)
        visitor->Header(header_);
    CheckStructure(visitor);
}

std::optional<ArchiveReader::Entry> ArchiveReader::CountEntries(Visitor* visitor)
{
    std::optional<Entry> probe;
    Entry entry;
    entryCount_ = 0;
    for (Walk walk(*this, false); walk.Next(entry); ++entryCount_) {
        if (visitor)
            visitor->Visit(entry.position, entry.fields);
        if (entry.fields.rawSize > 0 && (!probe || entry.fields.storedSize < probe->fields.storedSize))
            probe = entry;
    }
    return probe;
}

void ArchiveReader::CheckStructure(Visitor* visitor)
{
    if (!keyFile_) {
        CountEntries(visitor);
        return;
    }
    // Both files in one pass: the usual case, a pair that fits.
    try {
        Entry entry;
        entryCount_ = 0;
        for (Walk walk(*this, true, false); walk.Next(entry); ++entryCount_) {
            if (visitor)
                visitor->Visit(entry.position, entry.fields);
        }
        return;
    } catch (const ArchiveFormatError&) {
        // Told apart below, in the order that names the archive's own faults
        // first and weighs a mismatch against the whole archive.
    }
    // The archive alone first: that gives the number of records the key file must
    // hold, and the smallest entry with content, with which the key file's shares
    // can be tried when its records do not fit.
    const std::optional<Entry> probe = CountEntries(nullptr);
    try {
        Entry entry;
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
        throw ArchiveFormatError(keyFile_->Name() + " is not the key file of " + archive_->Name() + " (" +
                                     mismatch.Fault() + ")",
                                 ArchiveFormatError::Cause::ForeignKeyFile);
    }
    // A fault that the single pass met is met here again; this is not reached.
    Fail(archive_->Name(), "changed while it was read");
}

FileEntry ArchiveReader::ReadFileEntry(SourceCursor& records) const
{
    const std::string& path = archive_->Name();
    const std::uint64_t archiveSize = archive_->Size();
    const std::uint64_t offset = records.Position();
    std::uint8_t bytes[FileEntry::Size];
    if (archiveSize - offset < sizeof bytes || !ReadExactly(records, *archive_, bytes, sizeof bytes))
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
    if (end > archiveSize)
        Fail(path, "stored bytes of the FileEntry" + At(offset) + " end at " + std::to_string(end) +
                       ", past the end of the file at " + std::to_string(archiveSize));
    return fields;
}

void ArchiveReader::ReadNameRecord(SourceCursor& names, Entry& entry, bool readName) const
{
    const std::string& path = keyFile_->Name();
    const std::uint64_t keyFileSize = keyFile_->Size();
    const std::uint64_t offset = names.Position();
    std::uint8_t length[NameRecord::LengthSize];
    if (offset > keyFileSize || keyFileSize - offset < sizeof length ||
        !ReadExactly(names, *keyFile_, length, sizeof length))
        Fail(path, "truncated NameRecord" + At(offset));
    const std::size_t nameLength = NameRecord::DecodeNameLength(length);
    // Checked against the file's length before the name's storage is sized.
    if (keyFileSize - offset - sizeof length < nameLength + NameRecord::HashSize)
        Fail(path, "truncated NameRecord" + At(offset));
    if (readName) {
        entry.name.resize(nameLength);
        if (!ReadExactly(names, *keyFile_, entry.name.data(), nameLength))
            Fail(path, "truncated NameRecord" + At(offset));
    } else {
        names.Skip(nameLength);
    }
    std::uint8_t hash[NameRecord::HashSize];
    if (!ReadExactly(names, *keyFile_, hash, sizeof hash))
        Fail(path, "truncated NameRecord" + At(offset));
    const std::uint32_t contentHash = DecodeFixed32(hash);
    if (contentHash != entry.fields.contentHash)
        throw KeyFileMismatch(path,
                              "NameRecord" + At(offset) + " has content hash " + Hex32(contentHash) +
                                  ", but its entry " + std::to_string(entry.position.index) + " has " +
                                  Hex32(entry.fields.contentHash),
                              readName && NameFits(entry.name, entry.fields));
}

FileEntry ArchiveReader::ReadFields(std::uint64_t offset) const
{
    if (offset < ArchiveHeader::Size || offset >= archive_->Size())
        Fail(archive_->Name(), "no FileEntry" + At(offset));
    SourceCursor records(*archive_, offset, FileEntry::Size, memory_);
    return ReadFileEntry(records);
}

ArchiveReader::Entry ArchiveReader::ReadEntry(const Position& position) const
{
    Entry entry;
    entry.position = position;
    entry.fields = ReadFields(position.offset);
    if (keyFile_) {
        if (position.nameOffset < KeyFileHeader::Size)
            Fail(keyFile_->Name(), "no NameRecord" + At(position.nameOffset));
        SourceCursor names(*keyFile_, position.nameOffset, NameRecord::LengthSize, memory_);
        ReadNameRecord(names, entry);
    }
    return entry;
}

ArchiveReader::ContentStatus ArchiveReader::ReadContent(const Entry& entry, std::vector<std::uint8_t>& content) const
{
    // Refuse a compressed entry that no LZ4 block could produce before allocating
    // rawSize bytes for it.
    if (!EntryReader::CouldDecode(entry.fields.rawSize, entry.fields.storedSize))
        return ContentStatus::BadCompression;
    content.resize(entry.fields.rawSize);
    return ReadContent(entry.fields, content);
}

ArchiveReader::ContentStatus ArchiveReader::ReadContent(const Entry& entry, std::vector<std::uint8_t>& content,
                                                        const ArchiveKey& key) const
{
    if (!EntryReader::CouldDecode(entry.fields.rawSize, entry.fields.storedSize))
        return ContentStatus::BadCompression;
    CheckStoredBytes(entry.fields);
    content.resize(entry.fields.rawSize);
    return EntryReader::Read(*archive_, EntryCipher(key), entry.fields, content);
}

ArchiveReader::ContentStatus ArchiveReader::ReadContent(const FileEntry& fields, std::span<std::uint8_t> content) const
{
    CheckStoredBytes(fields);
    return EntryReader::Read(*archive_, *cipher_, fields, content);
}

void ArchiveReader::CheckStoredBytes(const FileEntry& fields) const
{
    const std::uint64_t end = std::uint64_t{fields.dataOffset} + fields.storedSize;
    if (fields.dataOffset < ArchiveHeader::Size + FileEntry::Size || end > archive_->Size())
        Fail(archive_->Name(), "stored bytes of the FileEntry" + At(fields.dataOffset - FileEntry::Size) +
                                   " are gone");
}

void ArchiveReader::Fail(const std::string& path, const std::string& fault) const
{
    throw ArchiveFormatError(path + ": " + fault);
}

}  // namespace zelkor
