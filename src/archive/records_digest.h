#pragma once

#include <cstdint>

#include "archive/archive_format.h"
#include "archive/xxh64_hasher.h"

namespace zelkor {

// What a volume set's manifest knows a volume by: XXH64 (seed 0) of the
// volume's ArchiveHeader and then of every FileEntry in order, as encoded.
// The writer feeds it as it writes the records and the reader as it checks
// them, so that no volume is hashed whole. The header makes two builds of the
// same contents differ (their key shares do); the records cover every entry's
// sizes, content hash and name hash. Holds its state in itself; one digest
// serves one thread at a time.
class RecordsDigest {
public:
    void Header(const ArchiveHeader& header);
    void Entry(const FileEntry& entry);
    std::uint64_t Value() const;

    // XXH64 (seed 0) of a key file's header as encoded: what the manifest
    // knows a volume's key file by.
    static std::uint64_t KeyFile(const KeyFileHeader& header);

private:
    Xxh64Hasher hasher_;
};

}  // namespace zelkor
