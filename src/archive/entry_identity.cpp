#include "archive/entry_identity.h"

#include <new>

#define XXH_STATIC_LINKING_ONLY
#include <xxhash.h>

namespace zelkor {

namespace {

static_assert(sizeof(XXH64_state_t) <= 96 && alignof(XXH64_state_t) <= 8);

XXH64_state_t* State(std::uint8_t* bytes)
{
    return std::launder(reinterpret_cast<XXH64_state_t*>(bytes));
}

const XXH64_state_t* State(const std::uint8_t* bytes)
{
    return std::launder(reinterpret_cast<const XXH64_state_t*>(bytes));
}

}  // namespace

EntryIdentity::EntryIdentity()
{
    new (state_) XXH64_state_t;
    XXH64_reset(State(state_), 0);
}

void EntryIdentity::Add(const FileEntry& fields)
{
    std::uint8_t record[16];
    EncodeFixed32(record, fields.rawSize);
    EncodeFixed32(record + 4, fields.contentHash);
    EncodeFixed32(record + 8, fields.storedSize);
    EncodeFixed32(record + 12, fields.nameHash);
    XXH64_update(State(state_), record, sizeof record);
    ++entries_;
}

ArchiveIdentity EntryIdentity::Value() const
{
    return {XXH64_digest(State(state_)), entries_};
}

}  // namespace zelkor
