#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>

#include <optional>

#include "store/cache_counters.h"
#include "store/cache_key.h"
#include "store/cache_problem.h"

namespace zelkor {

// Where the compression cache keeps its entries: a local directory, an HTTP
// server, or both layered. A store moves whole entries (CacheEntry's bytes) by key
// and keeps its size within its cap; it checks nothing of what an entry holds,
// which is the cache's work (CompressionCache), so every store is held to the
// same checks.
//
// Get, Put and Remove may be called from any number of threads at once; Flush
// once, at the end of a run, after all of them.
class CacheStore {
public:
    // Gives room of at least `size` bytes.
    using Buffer = std::function<std::span<std::uint8_t>(std::size_t size)>;

    struct Got {
        enum class Kind {
            Missing,  // no entry, or none that could be read this time: a plain miss
            Found,    // `entry` holds it whole
            TooLarge, // larger than asked for, so not read: damaged
            Failed,   // the store cannot be used at all
        };
        Kind kind = Kind::Missing;
        std::span<std::uint8_t> entry;  // the whole entry, at the start of the buffer
        // The store that answered, when it is another than the one asked (a
        // layered store's part): Remove, Checked and the damaged warning go to it.
        CacheStore* from = nullptr;
    };

    virtual ~CacheStore() = default;

    // The entry stored under `key`, at most `maxSize` bytes, read whole into
    // `buffer(size)`; finding it counts as a use of it for the eviction.
    virtual Got Get(const CacheKey& key, std::uint64_t maxSize, const Buffer& buffer) = 0;

    // Stores the entry `header` + `block` under `key` so that a reader finds all
    // of it or nothing. False when the store cannot take it.
    virtual bool Put(const CacheKey& key, std::span<const std::uint8_t> header,
                     std::span<const std::uint8_t> block) = 0;

    // Removes the entry under `key`, which was found damaged.
    virtual void Remove(const CacheKey& key) = 0;

    // The entry `got` (found under `key`) passed every check and is used; called
    // before the entry's bytes change hands. A layered store keeps a copy of what
    // a farther part sent in a nearer one.
    virtual void Checked(const CacheKey& /*key*/, const Got& /*got*/) {}

    // Accounts for the entries put in this run, removes what the cap asks for, and
    // adds the run's `counters` to the store's own. False when the store could not
    // be written; a store shared with others may skip its counters for the run
    // instead of waiting long for them.
    virtual bool Flush(const CacheCounters& counters) = 0;

    // The problems that name this store: that it cannot be used, and that it
    // held the damaged entry `key`. No Unusable: the store has said so itself.
    virtual std::optional<CacheProblem> Unusable() const = 0;
    virtual CacheProblem Damaged(const CacheKey& key) const = 0;
};

}  // namespace zelkor
