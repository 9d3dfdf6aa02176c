#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <span>

namespace zelkor {

// The digest of an entry's stored bytes as they lie in the archive (encrypted):
// XXH3-128, seed 0. A build record keeps it for each entry written, so that a
// later build that copies the entry out of that archive can tell whether the
// bytes it read are still the ones written. It finds any accident, and any
// change made without the record at hand; it is no proof against someone who
// reads the record (private to its user, who may write the archive anyway) and
// crafts bytes to match it.
//
// Bytes may come in pieces; the pieces in order hash as the whole would. One
// hasher serves one thread at a time.
class StoredHash {
public:
    // The low 64 bits of XXH3-128, then the high 64, each little-endian.
    using Digest = std::array<std::uint8_t, 16>;

    StoredHash();
    ~StoredHash();
    StoredHash(const StoredHash&) = delete;
    StoredHash& operator=(const StoredHash&) = delete;

    void Update(std::span<const std::uint8_t> piece);
    Digest Finish() const;

    // The digest of `stored` in one call.
    static Digest Of(std::span<const std::uint8_t> stored);

private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace zelkor
