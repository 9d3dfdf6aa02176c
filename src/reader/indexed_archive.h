#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <memory_resource>
#include <optional>
#include <span>
#include <string_view>

#include "reader/archive_reader.h"
#include "reader/readable_archive.h"

namespace zelkor {

// An archive opened for reading by index and by name, as a game reads it: the
// structure checked once (ArchiveReader), then an index of 16 bytes per entry
// (where each entry lies and how many bytes it stores, and the name hashes in
// order), and the key file's names loaded only when they are first asked for.
//
// Every call is const and safe on any number of threads at once: reads are
// positioned, nothing on the read path takes a lock, and the names are loaded
// once, by whichever thread asks first, and published with an atomic pointer.
//
// A name from the key file is trusted only when it hashes to its entry's name
// hash. Lookups follow one rule when names or hashes clash (see Find).
//
// Calls that read throw SourceError when a source cannot be read, and
// ArchiveFormatError when a file no longer holds what it held when it was
// opened; a fault of one entry's content comes back as a status.
class IndexedArchive : public ReadableArchive {
public:

    // Opens and checks both sources (`keyFile` null for none), as ArchiveReader
    // does. `memory` serves the index, the names and the buffers of the check,
    // and must outlive the archive. `observer`, when given, sees the header and
    // every entry as the structure is checked.
    IndexedArchive(std::unique_ptr<ByteSource> archive, std::unique_ptr<ByteSource> keyFile,
                   std::pmr::memory_resource* memory = std::pmr::get_default_resource(),
                   ArchiveReader::Visitor* observer = nullptr);
    ~IndexedArchive() override;
    IndexedArchive(const IndexedArchive&) = delete;
    IndexedArchive& operator=(const IndexedArchive&) = delete;

    const ArchiveReader& Reader() const { return *reader_; }
    std::uint64_t EntryCount() const override { return entries_.size(); }
    bool HasNames() const override { return reader_->KeySource() != nullptr; }

    // The FileEntry of entry `index` (below EntryCount()), read again and
    // checked against the index.
    FileEntry Fields(std::uint64_t index) const override;

    // The entry's archived path from the key file, when there is one and the
    // path hashes to `fields.nameHash` (the entry's, from Fields). The view
    // ends before a NUL and lives as long as the archive.
    std::optional<std::string_view> TrustedName(std::uint64_t index, const FileEntry& fields) const override;

    // The entry that `path` names: among the entries whose name hash is the
    // path's, the first in archive order whose trusted name equals the path
    // once both are normalised (A-Z lowered, backslashes as slashes); failing
    // that, the first of them whose name cannot be trusted. Without a key file,
    // the first entry with the path's name hash. Nothing when none is.
    std::optional<std::uint64_t> Find(std::string_view path) const override;

    // What Find gives, and whether its name is trusted (always, without a key
    // file), so that a lookup over several archives can follow the same rule.
    struct Match {
        std::uint64_t index = 0;
        bool trusted = false;
    };
    std::optional<Match> Lookup(std::string_view path) const;

    // Entry `index`'s content, checked, into the start of `buffer`; its fields
    // go to `fields`. Nothing, and nothing written, when the buffer is smaller
    // than the entry's raw size. An entry that stores little is read with its
    // FileEntry in one read.
    std::optional<ContentStatus> Read(std::uint64_t index, std::span<std::uint8_t> buffer,
                                      FileEntry& fields) const override;
    // The content with the fields already read (Fields), into `raw` of exactly
    // the raw size.
    ContentStatus Read(const FileEntry& fields, std::span<std::uint8_t> raw) const;

    void ReadRange(std::uint64_t index, const FileEntry& fields, std::uint64_t offset,
                   std::span<std::uint8_t> out) const override;
    std::string Describe(std::uint64_t index, const FileEntry& fields) const override;

    // The bytes the index and the loaded names take.
    std::size_t MemoryUse() const override;

    // The identity from the records, walked again front to back.
    ArchiveIdentity Identity() const override;
    // From the index and the loaded names, reading nothing once they are.
    void VisitNameHashes(const std::function<void(std::uint32_t, std::uint64_t)>& visit) const override;
    NameMatch MatchName(std::uint64_t index, std::uint32_t hash, std::string_view path) const override;
    std::optional<std::string_view> NameAt(std::uint64_t index) const override;

private:
    struct Located {
        std::uint32_t offset;      // of the FileEntry
        std::uint32_t storedSize;  // of the bytes that follow it
    };
    struct HashSlot {
        std::uint32_t hash;
        std::uint32_t index;
    };
    class Names;
    class Indexer;

    // The key file's names, loaded at the first call.
    const Names& LoadedNames() const;
    std::string_view NameIn(const Names& names, std::uint64_t index) const;

    std::pmr::memory_resource* memory_;
    std::pmr::vector<Located> entries_;   // in archive order
    std::pmr::vector<HashSlot> byHash_;  // by name hash, then by index
    std::unique_ptr<ArchiveReader> reader_;
    mutable std::atomic<const Names*> names_{nullptr};
};

}  // namespace zelkor
