#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "archive/archive_format.h"
#include "archive/entry_identity.h"
#include "reader/entry_reader.h"

namespace zelkor {

// What a game reads: entries by index and by path, checked. One archive
// (IndexedArchive) is one; so is anything that reads as one, such as several
// volumes of one build. The C interface (zelkor.h) stands on this.
//
// Every call is const and safe on any number of threads at once. Calls that
// read throw SourceError when a source cannot be read, and ArchiveFormatError
// when a file no longer holds what it held when it was opened; a fault of one
// entry's content comes back as a status.
class ReadableArchive {
public:
    using ContentStatus = EntryReader::Status;

    virtual ~ReadableArchive() = default;

    virtual std::uint64_t EntryCount() const = 0;
    // Whether entries have names (a key file was read).
    virtual bool HasNames() const = 0;

    // The FileEntry of entry `index` (below EntryCount()), read again and checked.
    virtual FileEntry Fields(std::uint64_t index) const = 0;

    // The entry's archived path, when it has one and it hashes to
    // `fields.nameHash` (the entry's, from Fields). The view ends before a NUL
    // and lives as long as the archive.
    virtual std::optional<std::string_view> TrustedName(std::uint64_t index, const FileEntry& fields) const = 0;

    // The entry that `path` names, by the rule of IndexedArchive::Find.
    virtual std::optional<std::uint64_t> Find(std::string_view path) const = 0;

    // Entry `index`'s content, checked, into the start of `buffer`; its fields
    // go to `fields`. Nothing, and nothing written, when the buffer is smaller
    // than the entry's raw size.
    virtual std::optional<ContentStatus> Read(std::uint64_t index, std::span<std::uint8_t> buffer,
                                              FileEntry& fields) const = 0;

    // Bytes [offset, offset + out.size()) of entry `index`, stored raw, whose
    // fields are `fields` (from Fields); unchecked (see EntryReader::ReadRange).
    virtual void ReadRange(std::uint64_t index, const FileEntry& fields, std::uint64_t offset,
                           std::span<std::uint8_t> out) const = 0;

    // "PATH: entry 3 (FileEntry at offset 1234)", for messages.
    virtual std::string Describe(std::uint64_t index, const FileEntry& fields) const = 0;

    // The bytes the archive holds now (its index, and its names once loaded).
    virtual std::size_t MemoryUse() const = 0;

    // What indexes built above archives (a mount list's) need. Each has a
    // default that reads the records again (Fields); an archive that holds an
    // index of its own answers from it.

    // How an entry answers to a path by the rule of Find.
    enum class NameMatch {
        Same,       // its trusted name is the path (or, without names, its hash is)
        Untrusted,  // its name does not hash to its name hash: Find's fallback
        Other,      // a trusted name that is another path of the same hash
    };

    // The ArchiveIdentity of the entries, in archive order.
    virtual ArchiveIdentity Identity() const;

    // Calls `visit` with the name hash and the index of every entry, in any
    // order.
    virtual void VisitNameHashes(const std::function<void(std::uint32_t hash, std::uint64_t index)>& visit) const;

    // How entry `index`, whose name hash is `hash`, answers to `path`, which
    // hashes to `hash`.
    virtual NameMatch MatchName(std::uint64_t index, std::uint32_t hash, std::string_view path) const;

    // The name the key file gives entry `index`, trusted or not (it may not
    // hash to the entry's name hash); nothing without names. Lives as the
    // archive.
    virtual std::optional<std::string_view> NameAt(std::uint64_t index) const;
};

}  // namespace zelkor
