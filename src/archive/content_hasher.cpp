#include "archive/content_hasher.h"

#include <new>

#define XXH_STATIC_LINKING_ONLY
#include <xxhash.h>

#include "archive/archive_format.h"

namespace zelkor {

namespace {

static_assert(sizeof(XXH32_state_t) <= 48 && alignof(XXH32_state_t) <= 8);

XXH32_state_t* State(std::uint8_t* bytes)
{
    return std::launder(reinterpret_cast<XXH32_state_t*>(bytes));
}

const XXH32_state_t* State(const std::uint8_t* bytes)
{
    return std::launder(reinterpret_cast<const XXH32_state_t*>(bytes));
}

}  // namespace

ContentHasher::ContentHasher()
{
    new (state_) XXH32_state_t;
    XXH32_reset(State(state_), ContentHashSeed);
}

void ContentHasher::Update(std::span<const std::uint8_t> piece)
{
    if (!piece.empty())
        XXH32_update(State(state_), piece.data(), piece.size());
}

std::uint32_t ContentHasher::Digest() const
{
    return XXH32_digest(State(state_));
}

std::uint32_t ContentHasher::Of(std::span<const std::uint8_t> raw)
{
    return XXH32(raw.data(), raw.size(), ContentHashSeed);
}

}  // namespace zelkor
