#include "archive/xxh64_hasher.h"

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

Xxh64Hasher::Xxh64Hasher()
{
    new (state_) XXH64_state_t;
    XXH64_reset(State(state_), 0);
}

void Xxh64Hasher::Update(const void* data, std::size_t size)
{
    XXH64_update(State(state_), data, size);
}

std::uint64_t Xxh64Hasher::Digest() const
{
    return XXH64_digest(State(state_));
}

}  // namespace zelkor
