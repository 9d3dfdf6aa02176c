#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "reader/archive_reader.h"

namespace zelkor::testing {

// Every entry of `reader`, walked in order (for the small archives of tests).
std::vector<ArchiveReader::Entry> AllEntries(const ArchiveReader& reader);

// One entry of an archive, read back, decrypted, decompressed and hash-checked.
struct ArchivedFile {
    std::string name;     // from the key file; empty when read without one
    std::string content;
    bool compressed = false;

    bool operator==(const ArchivedFile&) const = default;
};

// Reads every entry of `archive` (with the key file `key` unless it is empty) and
// checks each one's content hash. Throws std::runtime_error naming the entry when
// the archive is malformed or an entry does not verify, so a test can never pass
// on sizes alone.
std::vector<ArchivedFile> ReadArchive(const std::filesystem::path& archive,
                                      const std::filesystem::path& key = {});

// The names (or, without a key file, the contents) of ReadArchive's entries.
std::vector<std::string> ArchivedNames(const std::vector<ArchivedFile>& files);
std::vector<std::string> ArchivedContents(const std::vector<ArchivedFile>& files);

}  // namespace zelkor::testing
