#pragma once

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>

#include "cache/local_store.h"
#include "remote/remote_store.h"
#include "remote/upload_queue.h"
#include "store/cache_store.h"

namespace zelkor {


// A local store in front of a remote one: a get asks the local directory first,
// then the server; an entry from the server that passes the cache's checks is
// kept locally, written by a queue of its own (an UploadQueue into the local
// directory) so that the pack does not wait for the new file; a put goes to the
// directory at once and to the server through an UploadQueue (not at all when
// read-only). At the end of the run (Flush) the
// uploads still queued are waited for a bounded time (EndWait), the rest
// dropped and counted, and the remote's counters of the run recorded in the
// local directory.
//
// Either part that fails is given up for the rest of the run with its own
// problem reported (CacheProblem::Kind::Unusable), and the
// other goes on alone; the local part may be missing from the start.
//
// Thread-safe as CacheStore says.
class LayeredStore final : public CacheStore {
public:
    LayeredStore(std::unique_ptr<LocalStore> local, std::unique_ptr<RemoteStore> remote, bool readOnly,
                 CacheProblemSink& problems, std::size_t queueBound = UploadQueue::DefaultBound);
    ~LayeredStore() override;

    Got Get(const CacheKey& key, std::uint64_t maxSize, const Buffer& buffer) override;
    bool Put(const CacheKey& key, std::span<const std::uint8_t> header, std::span<const std::uint8_t> block) override;
    void Remove(const CacheKey& key) override;
    void Checked(const CacheKey& key, const Got& got) override;
    bool Flush(const CacheCounters& counters) override;
    // None: each part reports for itself.
    std::optional<CacheProblem> Unusable() const override;
    CacheProblem Damaged(const CacheKey& key) const override;

    // How long the end of a run that took `run` waits for its uploads: a twentieth
    // of the run, and at least a second (so that a short run's few uploads land).
    static std::chrono::milliseconds EndWait(std::chrono::steady_clock::duration run);

    // The remote's counts of this run so far.
    RemoteCounters RemoteCounted() const;

private:
    bool LocalOn() const { return local_ && !localOff_.load(); }
    bool RemoteOn() const { return !remoteOff_.load(); }
    void GiveUpLocal();
    void GiveUpRemote();

    std::unique_ptr<LocalStore> local_;
    std::unique_ptr<RemoteStore> remote_;
    const bool readOnly_;
    CacheProblemSink& problems_;
    const std::chrono::steady_clock::time_point started_;
    std::atomic<bool> localOff_{false};
    std::atomic<bool> remoteOff_{false};
    std::once_flag localWarned_;
    std::once_flag remoteWarned_;
    // Last: they stop, and their threads end, before the stores go.
    UploadQueue keeps_;
    UploadQueue uploads_;
};

}  // namespace zelkor
