#pragma once

#include <cstdint>

#include "archive/archive_format.h"
#include "archive/xxh64_hasher.h"

namespace zelkor {

// What an archive holds, in 16 bytes: the number of its entries and a digest of
// their records. A patch names the base it was made against by it, and its
// deletion list names the patch it belongs to (docs/format.md, "Archive
// identity").
struct ArchiveIdentity {
    std::uint64_t digest = 0;
    std::uint64_t entries = 0;

    bool operator==(const ArchiveIdentity&) const = default;
};

// Builds an ArchiveIdentity from the entries in archive order: XXH64 (seed 0)
// over each entry's rawSize, contentHash, storedSize and nameHash, 4 bytes
// little-endian each. dataOffset is left out, so the identity says what the
// entries are, not where they lie, and the key material is left out, so two
// builds of the same content under different keys have one identity. Holds its
// state in itself; one builder serves one thread at a time.
class EntryIdentity {
public:
    void Add(const FileEntry& fields);
    ArchiveIdentity Value() const;

private:
    std::uint64_t entries_ = 0;
    Xxh64Hasher hasher_;
};

}  // namespace zelkor
