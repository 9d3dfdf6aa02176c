#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "remote/http_connection.h"
#include "remote/remote_budget.h"
#include "remote/remote_url.h"
#include "store/cache_settings.h"
#include "store/cache_store.h"
#include "store/remote_counters.h"

namespace zelkor {

// The compression cache's entries on an HTTP server: the local cache's bytes at
// BASE/XX/KEY, read with GET and written with PUT of the whole entry, so any
// server that takes PUT serves (nginx with its WebDAV module, a WebDAV share, a
// build-cache server behind a path). The server evicts, never the tool: Remove
// only counts, and Flush writes nothing.
//
// A 404 is a miss; anything else that is not a whole 200 (a refused connection,
// a timeout, a 5xx, a 401, a body cut short or larger than any entry for the
// size asked for, a TLS error) is Failed, and the caller gives up the store.
// So is every lookup once misses have spent the run's budget (RemoteBudget):
// a server that answers, but too slowly to be worth asking.
// What a 200 holds is trusted no further than any store's entry: the cache
// checks it.
//
// Thread-safe: each request borrows a connection (kept open for the next one)
// from a pool, which grows to the number of threads asking at once.
class RemoteStore final : public CacheStore {
public:
    struct Options {
        std::chrono::milliseconds requestTimeout = CacheSettings::DefaultRemoteTimeout;
        std::string bearerToken;
        // For tests: the clock the budget of slow misses goes by (null: the
        // steady clock).
        RemoteBudget::Clock clock = nullptr;
    };
    // The longest wait for a connection to be made, within the request's timeout.
    static constexpr std::chrono::milliseconds ConnectTimeout{1000};

    // Nothing when this build has no HTTP client.
    static std::unique_ptr<RemoteStore> Open(const RemoteUrl& url, Options options);

    ~RemoteStore() override;

    Got Get(const CacheKey& key, std::uint64_t maxSize, const Buffer& buffer) override;
    bool Put(const CacheKey& key, std::span<const std::uint8_t> header, std::span<const std::uint8_t> block) override;
    // Counts the damaged entry; the server's copy is overwritten by the next
    // writer that compresses the source, or goes with the server's eviction.
    void Remove(const CacheKey& key) override;
    void Checked(const CacheKey& key, const Got& got) override;
    bool Flush(const CacheCounters& counters) override;
    std::optional<CacheProblem> Unusable() const override;
    CacheProblem Damaged(const CacheKey& key) const override;

    // Ends the requests under way (within about a second) and fails every later
    // one: the store is given up, or the run ends.
    void Abandon() { abandoned_.store(true); }

    const RemoteUrl& Url() const { return url_; }
    // What this store did so far (uploads dropped and `unusable` are its user's).
    RemoteCounters Counted() const;

private:
    RemoteStore(RemoteUrl url, Options options);

    // A connection of the pool, handed back when it goes out of scope.
    class Lease;

    RemoteUrl url_;
    HttpConnection::Options connection_;
    RemoteBudget budget_;
    // Connections made: as many as threads have waited on the server at once.
    std::atomic<std::size_t> connections_{0};
    std::atomic<bool> abandoned_{false};
    std::mutex poolMutex_;
    std::vector<std::unique_ptr<HttpConnection>> idle_;

    std::atomic<std::uint64_t> hits_{0};
    std::atomic<std::uint64_t> misses_{0};
    std::atomic<std::uint64_t> damaged_{0};
    std::atomic<std::uint64_t> uploads_{0};
    std::atomic<std::uint64_t> bytesDown_{0};
    std::atomic<std::uint64_t> bytesUp_{0};
};

}  // namespace zelkor
