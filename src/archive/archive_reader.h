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

namespace zelkor {

// Reads an archive and, optionally, its key file, treating both as hostile.
//
// Construction checks the whole structure at once: the header's magic, every
// FileEntry (complete, dataOffset = its offset + 20, storedSize at most rawSize,
// stored bytes within the file), the key file's header and name records
// (complete, one per entry, each with its entry's content hash). A violation
// throws ArchiveFormatError; a file that cannot be opened or read throws
// std::runtime_error ("Cannot open PATH!", "Cannot read PATH!"). No allocation is
// sized by a field that has not been checked against the file's length.
//
// The content of one entry is then read and verified on request; a fault there
// (bytes that do not decompress, a content hash that does not match) concerns
// that entry only and is reported as a status, not thrown. Without the key file
// that belongs to an archive, every entry decrypts to noise and fails so.
//
// ReadContent may be called from several threads at once.
class ArchiveReader {
public:
    struct Entry {
        std::uint64_t offset = 0;  // of its FileEntry; the stored bytes follow
        FileEntry fields;
        std::string name;  // the archived path from the key file; empty without one
    };

    using ContentStatus = EntryCodec::Status;

    // `keyPath` null: read the archive alone, whose own shares are then the key.
    ArchiveReader(const std::string& archivePath, const std::string* keyPath);

    const ArchiveHeader& Header() const { return header_; }
    const std::optional<KeyFileHeader>& KeyHeader() const { return keyHeader_; }
    const ArchiveKey& Key() const { return key_; }
    std::uint64_t ArchiveSize() const { return archiveSize_; }
    const std::vector<Entry>& Entries() const { return entries_; }

    // Reads entry `index` (below Entries().size()), decrypts it, decompresses it
    // when it is stored compressed, and checks its content hash. On Ok, `content`
    // holds the rawSize raw bytes. Throws ArchiveFormatError or std::runtime_error
    // only when the archive has changed or become unreadable since it was opened.
    ContentStatus ReadContent(std::size_t index, std::vector<std::uint8_t>& content) const;

private:
    void ReadEntries();
    void ReadNames(File& keyFile, std::uint64_t keyFileSize);
    [[noreturn]] void Fail(const std::string& path, const std::string& fault) const;

    File archive_;
    std::uint64_t archiveSize_ = 0;
    ArchiveHeader header_;
    std::optional<KeyFileHeader> keyHeader_;
    ArchiveKey key_;
    std::vector<Entry> entries_;
};

}  // namespace zelkor
