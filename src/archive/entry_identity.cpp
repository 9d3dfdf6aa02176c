#include "archive/entry_identity.h"

namespace zelkor {

void EntryIdentity::Add(const FileEntry& fields)
{
    std::uint8_t record[16];
    EncodeFixed32(record, fields.rawSize);
    EncodeFixed32(record + 4, fields.contentHash);
    EncodeFixed32(record + 8, fields.storedSize);
    EncodeFixed32(record + 12, fields.nameHash);
    hasher_.Update(record, sizeof record);
    ++entries_;
}

ArchiveIdentity EntryIdentity::Value() const
{
    return {hasher_.Digest(), entries_};
}

}  // namespace zelkor
