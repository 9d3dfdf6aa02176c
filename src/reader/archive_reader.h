#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <memory_resource>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "archive/archive_format.h"
#include "archive/archive_format_error.h"
#include "archive/archive_key.h"
#include "reader/byte_source.h"
#include "reader/entry_cipher.h"
#include "reader/entry_reader.h"
#include "reader/source_cursor.h"

namespace zelkor {

// Reads an archive and, optionally, its key file, treating both as hostile, with
// memory that does not grow with the number of entries.
//
// Construction checks the whole structure by reading the records front to back:
// the header's magic, every FileEntry (complete, dataOffset = its offset + 20,
// storedSize at most rawSize, stored bytes within the file), the key file's
// header and name records (complete, one per entry, each with its entry's content
// hash). A violation throws ArchiveFormatError; when the key file's records do
// not match the archive and the key file's shares do not decode the archive
// either, its cause is ForeignKeyFile. A file that cannot be opened or read
// throws SourceError ("Cannot open PATH!", "Cannot read PATH!"). No allocation
// is sized by a field that has not been checked against the file's length.
//
// The entries are then read in order with a Walk, which keeps only the entry at
// hand, and an entry met before can be read again from its Position. Both check
// every record again and throw ArchiveFormatError when the files have changed.
//
// The content of one entry is read and verified on request; a fault there (bytes
// that do not decompress, a content hash that does not match) concerns that entry
// only and is reported as a status, not thrown. Without the key file that
// belongs to an archive, every entry decrypts to noise and fails so.
//
// ReadEntry and ReadContent may be called from several threads at once; a Walk
// serves one thread.
class ArchiveReader {
public:
    // Where an entry's records lie.
    struct Position {
        std::uint64_t index = 0;       // in archive order, from 0
        std::uint64_t offset = 0;      // of its FileEntry; the stored bytes follow
        std::uint64_t nameOffset = 0;  // of its NameRecord; 0 without a key file
        std::uint32_t volume = 0;      // read as part of a set: the volume it lies in
    };

    struct Entry {
        Position position;
        FileEntry fields;
        std::string name;  // the archived path from the key file; empty without one
    };

    // Whether `name` is the one that an entry's name hash was made from. A key
    // file can name any file for any entry: readers trust only such names.
    static bool NameFits(std::string_view name, const FileEntry& fields) { return NameHash(name) == fields.nameHash; }

    using ContentStatus = EntryReader::Status;

    // Told of the archive's header, then of every entry while the structure
    // is checked, in archive order, with the position of its name record when
    // there is a key file.
    class Visitor {
    public:
        virtual ~Visitor() = default;
        virtual void Header(const ArchiveHeader&) {}
        virtual void Visit(const Position& position, const FileEntry& fields) = 0;
    };

    // The entries in archive order, each read when it is asked for.
    class Walk {
    public:
        // Fills `entry` with the next entry (its name's storage is reused); false
        // after the last one.
        bool Next(Entry& entry);

    private:
        friend class ArchiveReader;
        Walk(const ArchiveReader& reader, bool withNames, bool readNames = true);

        const ArchiveReader* reader_;
        SourceCursor records_;
        std::optional<SourceCursor> names_;
        bool readNames_;
        std::uint64_t index_ = 0;
    };

    // `keyPath` null: read the archive alone, whose own shares are then the key.
    ArchiveReader(const std::string& archivePath, const std::string* keyPath);
    // The same over sources; `keyFile` null for none. `visitor`, when given,
    // sees every entry as the structure is checked; `memory` serves the
    // buffers of the check.
    ArchiveReader(std::unique_ptr<ByteSource> archive, std::unique_ptr<ByteSource> keyFile,
                  Visitor* visitor = nullptr, std::pmr::memory_resource* memory = std::pmr::get_default_resource());
    // Walks point into the reader, so it stays where it was made.
    ArchiveReader(const ArchiveReader&) = delete;
    ArchiveReader& operator=(const ArchiveReader&) = delete;

    const ArchiveHeader& Header() const { return header_; }
    const std::optional<KeyFileHeader>& KeyHeader() const { return keyHeader_; }
    const ArchiveKey& Key() const { return cipher_->Key(); }
    std::uint64_t ArchiveSize() const { return archive_->Size(); }
    std::uint64_t EntryCount() const { return entryCount_; }
    const ByteSource& ArchiveSource() const { return *archive_; }
    // The key file's source; null without one.
    const ByteSource* KeySource() const { return keyFile_.get(); }
    const EntryCipher& Cipher() const { return *cipher_; }

    // A walk from the first entry, with names when there is a key file.
    Walk Entries() const { return Walk(*this, keyFile_ != nullptr); }
    // The same without reading the names, for passes that need only the records;
    // its positions have no nameOffset.
    Walk Records() const { return Walk(*this, false); }

    // The entry at `position`, which a walk of Entries() gave.
    Entry ReadEntry(const Position& position) const;
    // Only the FileEntry at `offset`, checked as a walk checks it.
    FileEntry ReadFields(std::uint64_t offset) const;

    // Reads the entry's stored bytes, decrypts them, decompresses them when they
    // are stored compressed, and checks the content hash. On Ok, `content` holds
    // the rawSize raw bytes. Throws ArchiveFormatError or SourceError only when
    // the archive has changed or become unreadable since it was opened.
    ContentStatus ReadContent(const Entry& entry, std::vector<std::uint8_t>& content) const;
    // The same with another key, to try a key file choice other than the one made.
    ContentStatus ReadContent(const Entry& entry, std::vector<std::uint8_t>& content, const ArchiveKey& key) const;
    // The same into the caller's memory, exactly fields.rawSize bytes long.
    ContentStatus ReadContent(const FileEntry& fields, std::span<std::uint8_t> content) const;

private:
    void Open(Visitor* visitor);
    void CheckStructure(Visitor* visitor);
    // Counts the entries and finds the smallest one with content, walking the
    // archive alone.
    std::optional<Entry> CountEntries(Visitor* visitor);
    // Reads and checks the FileEntry at the position of `records`, leaving it
    // at the stored bytes.
    FileEntry ReadFileEntry(SourceCursor& records) const;
    // Reads and checks the NameRecord of `entry` at the position of `names`;
    // without `readName`, checks it without keeping the name.
    void ReadNameRecord(SourceCursor& names, Entry& entry, bool readName = true) const;
    // Throws unless the stored bytes of `fields` lie within the archive.
    void CheckStoredBytes(const FileEntry& fields) const;
    [[noreturn]] void Fail(const std::string& path, const std::string& fault) const;

    std::unique_ptr<ByteSource> archive_;
    std::unique_ptr<ByteSource> keyFile_;
    std::pmr::memory_resource* memory_;
    ArchiveHeader header_;
    std::optional<KeyFileHeader> keyHeader_;
    std::unique_ptr<EntryCipher> cipher_;
    std::uint64_t entryCount_ = 0;
};

}  // namespace zelkor
