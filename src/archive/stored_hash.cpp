#include "archive/stored_hash.h"

// The hash state is a type of its own here.
#define XXH_STATIC_LINKING_ONLY
#include <xxhash.h>

#include "platform/little_endian.h"

namespace zelkor {

namespace {

StoredHash::Digest Encode(XXH128_hash_t hash)
{
    StoredHash::Digest digest;
    EncodeFixed64(digest.data(), hash.low64);
    EncodeFixed64(digest.data() + 8, hash.high64);
    return digest;
}

}  // namespace

struct StoredHash::State {
    XXH3_state_t xxh;
};

StoredHash::StoredHash() : state_(std::make_unique<State>())
{
    XXH3_128bits_reset(&state_->xxh);
}

StoredHash::~StoredHash() = default;

void StoredHash::Update(std::span<const std::uint8_t> piece)
{
    if (!piece.empty())
        XXH3_128bits_update(&state_->xxh, piece.data(), piece.size());
}

StoredHash::Digest StoredHash::Finish() const
{
    return Encode(XXH3_128bits_digest(&state_->xxh));
}

StoredHash::Digest StoredHash::Of(std::span<const std::uint8_t> stored)
{
    return Encode(XXH3_128bits(stored.data(), stored.size()));
}

}  // namespace zelkor
