#include "archive/records_digest.h"

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

RecordsDigest::RecordsDigest()
{
    new (state_) XXH64_state_t;
    XXH64_reset(State(state_), 0);
}

void RecordsDigest::Header(const ArchiveHeader& header)
{
    std::uint8_t bytes[ArchiveHeader::Size];
    header.EncodeTo(bytes);
    XXH64_update(State(state_), bytes, sizeof bytes);
}

void RecordsDigest::Entry(const FileEntry& entry)
{
    std::uint8_t bytes[FileEntry::Size];
    entry.EncodeTo(bytes);
    XXH64_update(State(state_), bytes, sizeof bytes);
}

std::uint64_t RecordsDigest::Value() const
{
    return XXH64_digest(State(state_));
}

std::uint64_t RecordsDigest::KeyFile(const KeyFileHeader& header)
{
    std::uint8_t bytes[KeyFileHeader::Size];
    header.EncodeTo(bytes);
    return XXH64(bytes, sizeof bytes, 0);
}

}  // namespace zelkor
