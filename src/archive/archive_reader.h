#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "archive/archive_crypto.h"
#include "archive/archive_format.h"
#include "archive/archive_format_error.h"
#include "archive/entry_codec.h"
#include "platform/file.h"
#include "platform/sequential_reader.h"

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
// throws std::runtime_error ("Cannot open PATH!", "Cannot read PATH!"). No
// allocation is sized by a field that has not been checked against the file's
// length.
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
    };

    struct Entry {
        Position position;
        FileEntry fields;
        std::string name;  // the archived path from the key file; empty without one
    };

    using ContentStatus = EntryCodec::Status;

    // The entries in archive order, each read when it is asked for.
    class Walk {
    public:
        // Fills `entry` with the next entry (its name's storage is reused); false
        // after the last one.
        bool Next(Entry& entry);

    private:
        friend class ArchiveReader;
        Walk(const ArchiveReader& reader, bool withNames);

        const ArchiveReader* reader_;
        SequentialReader records_;
        std::optional<SequentialReader> names_;
        std::uint64_t index_ = 0;
    };

    // `keyPath` null: read the archive alone, whose own shares are then the key.
    ArchiveReader(const std::string& archivePath, const std::string* keyPath);
    // Walks point into the reader, so it stays where it was made.
    ArchiveReader(const ArchiveReader&) = delete;
    ArchiveReader& operator=(const ArchiveReader&) = delete;

    const ArchiveHeader& Header() const { return header_; }
    const std::optional<KeyFileHeader>& KeyHeader() const { return keyHeader_; }
    const ArchiveKey& Key() const { return key_; }
    std::uint64_t ArchiveSize() const { return archiveSize_; }
    std::uint64_t EntryCount() const { return entryCount_; }

    // A walk from the first entry, with names when there is a key file.
    Walk Entries() const { return Walk(*this, keyFile_.IsOpen()); }
    // The same without reading the names, for passes that need only the records;
    // its positions have no nameOffset.
    Walk Records() const { return Walk(*this, false); }

    // The entry at `position`, which a walk of Entries() gave.
    Entry ReadEntry(const Position& position) const;

    // Reads the entry's stored bytes, decrypts them, decompresses them when they
    // are stored compressed, and checks the content hash. On Ok, `content` holds
    // the rawSize raw bytes. Throws ArchiveFormatError or std::runtime_error only
    // when the archive has changed or become unreadable since it was opened.
    ContentStatus ReadContent(const Entry& entry, std::vector<std::uint8_t>& content) const
    {
        return ReadContent(entry, content, key_);
    }
    // The same with another key, to try a key file choice other than the one made.
    ContentStatus ReadContent(const Entry& entry, std::vector<std::uint8_t>& content, const ArchiveKey& key) const;

private:
    void CheckStructure();
    // Reads and checks the FileEntry at the position of `records`, leaving it
    // at the stored bytes.
    FileEntry ReadFileEntry(SequentialReader& records) const;
    // Reads and checks the NameRecord of `entry` at the position of `names`.
    void ReadNameRecord(SequentialReader& names, Entry& entry) const;
    [[noreturn]] void Fail(const std::string& path, const std::string& fault) const;

    File archive_;
    std::uint64_t archiveSize_ = 0;
    ArchiveHeader header_;
    File keyFile_;
    std::uint64_t keyFileSize_ = 0;
    std::optional<KeyFileHeader> keyHeader_;
    ArchiveKey key_;
    std::uint64_t entryCount_ = 0;
};

}  // namespace zelkor
