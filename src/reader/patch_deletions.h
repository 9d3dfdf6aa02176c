#pragma once

#include "archive/deletion_list.h"
#include "reader/byte_source.h"
#include "reader/readable_archive.h"

namespace zelkor {

// Reads the deletion list of a patch for a mount list: the whole source (at
// most DeletionList::MaxSize bytes), decoded and checked, and then checked
// against the patch it lies beside. A list that names another build of the
// patch (another ArchiveIdentity) would hide what that build's base should show,
// so it is refused as a whole, like damage.
class PatchDeletions {
public:
    // Throws ArchiveFormatError naming the source when it is too large, does
    // not decode, or belongs to another patch than `patch`; SourceError when it
    // cannot be read.
    static DeletionList Read(const ByteSource& source, const ReadableArchive& patch);
};

}  // namespace zelkor
