#pragma once

#include <string>

#include "store/cache_key.h"

namespace zelkor {

// Something a cache store met that the run's user should hear of, as facts:
// the tool's layer of words (CacheWarnings) says it in the tool's sentences.
struct CacheProblem {
    enum class Kind {
        Unusable,  // the store cannot be used, and the run goes on without it
        Damaged,   // it held (or sent) an entry that failed the cache's checks
    };
    enum class Store {
        Local,   // a directory
        Remote,  // a server
    };

    Kind kind = Kind::Unusable;
    Store store = Store::Local;
    // The directory as named, or the server's URL without its credentials.
    std::string where;
    // Damaged only: the entry's key, in hex.
    std::string key;

    static CacheProblem Unusable(Store store, std::string where) { return {Kind::Unusable, store, std::move(where), {}}; }
    static CacheProblem Damaged(Store store, std::string where, const CacheKey& key)
    {
        return {Kind::Damaged, store, std::move(where), key.Hex()};
    }

    bool operator==(const CacheProblem& other) const = default;
};

// Where the cache and its stores report their problems; called from any thread.
class CacheProblemSink {
public:
    virtual ~CacheProblemSink() = default;
    virtual void Report(const CacheProblem& problem) = 0;
};

}  // namespace zelkor
