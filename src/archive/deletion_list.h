#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "archive/entry_identity.h"

namespace zelkor {

// The deletions of a patch: the names its base holds and the patch's script no
// longer lists, which a mount list hides in every archive mounted below the
// patch. The archive format has no delete record, so they lie beside the patch
// in a file of their own, NAME.del for the patch NAME, which readers of the
// archive alone never look at. It also names the patch it belongs to and the
// base it was made against, by their ArchiveIdentity. The layout is in
// docs/format.md ("Deletion list").
struct DeletionList {
    // No list is read whole beyond this; a real one is a fraction of it.
    static constexpr std::uint64_t MaxSize = std::uint64_t{1} << 30;
    // The fields before the names, and the checksum after them.
    static constexpr std::size_t HeaderSize = 44;
    static constexpr std::size_t ChecksumSize = 8;

    ArchiveIdentity patch;
    ArchiveIdentity base;
    std::vector<std::string> names;  // each 1 to MaxNameLength bytes, no NUL

    std::vector<std::uint8_t> Encode() const;

    // The list in `bytes`, read from the file `path` (for the message). Throws
    // ArchiveFormatError ("PATH: FAULT") unless the bytes are exactly one
    // well-formed list whose checksum matches.
    static DeletionList Decode(std::span<const std::uint8_t> bytes, const std::string& path);

    // The path of the list beside the patch at `archivePath`.
    static std::string PathFor(std::string_view archivePath);
};

}  // namespace zelkor
