#include "reader/patch_deletions.h"

#include <vector>

#include "archive/archive_format_error.h"
#include "platform/hex.h"
#include "reader/source_error.h"

namespace zelkor {

namespace {

std::string Described(const ArchiveIdentity& identity)
{
    return std::to_string(identity.entries) + (identity.entries == 1 ? " entry" : " entries") + ", identity " +
           Hex64(identity.digest);
}

}  // namespace

DeletionList PatchDeletions::Read(const ByteSource& source, const ReadableArchive& patch)
{
    if (source.Size() > DeletionList::MaxSize)
        throw ArchiveFormatError(source.Name() + ": a deletion list of " + std::to_string(source.Size()) +
                                 " bytes, more than any patch needs");
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(source.Size()));
    const std::optional<std::size_t> got = source.ReadAt(0, bytes);
    if (!got)
        throw SourceError::CannotRead(source.Name());
    bytes.resize(*got);
    DeletionList list = DeletionList::Decode(bytes, source.Name());
    const ArchiveIdentity identity = patch.Identity();
    if (list.patch != identity)
        throw ArchiveFormatError(source.Name() + ": the deletions of another build of the patch (made for " +
                                 Described(list.patch) + "; the patch beside it holds " + Described(identity) +
                                 "): rebuild the patch, or remove the stale list");
    return list;
}

}  // namespace zelkor
