#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <span>
#include <thread>
#include <vector>

#include "store/cache_key.h"

namespace zelkor {

// Entries on their way to a remote store, uploaded one after the other by a
// thread of their own, so that no pack waits for the network. The queue holds
// copies up to a bound of bytes; an entry that would pass it is dropped, not
// waited for, and counted. Whatever is still queued when the queue stops is
// dropped and counted too.
//
// Thread-safe. The thread starts with the first entry.
class UploadQueue {
public:
    static constexpr std::size_t DefaultBound = std::size_t{64} << 20;

    // Uploads one entry; false when the store failed.
    using Upload = std::function<bool(const CacheKey& key, std::span<const std::uint8_t> header,
                                      std::span<const std::uint8_t> block)>;
    // An upload failed while the queue ran: called on the queue's thread, which
    // drops that entry and goes on with the next (the callback may Stop it).
    using Failure = std::function<void()>;

    UploadQueue(Upload upload, Failure failure, std::size_t bound = DefaultBound);
    // Stops, and waits for an upload under way: its store must end it soon (the
    // remote's Abandon does).
    ~UploadQueue();
    UploadQueue(const UploadQueue&) = delete;
    UploadQueue& operator=(const UploadQueue&) = delete;

    // Queues a copy of the entry `header` + `block`, or drops it.
    void Push(const CacheKey& key, std::span<const std::uint8_t> header, std::span<const std::uint8_t> block);

    // Waits at most `wait` until nothing is queued or under way; true when so.
    bool Drain(std::chrono::milliseconds wait);

    // Drops what is queued and takes nothing more; an upload under way that then
    // fails is dropped too.
    void Stop();

    std::uint64_t Dropped() const;

private:
    struct Item {
        CacheKey key;
        std::vector<std::uint8_t> entry;
        std::size_t headerSize = 0;
    };

    void Run();

    Upload upload_;
    Failure failure_;
    const std::size_t bound_;

    mutable std::mutex mutex_;
    std::condition_variable wake_;     // an entry queued, or the queue stopped
    std::condition_variable drained_;  // nothing queued or under way
    std::deque<Item> items_;
    std::size_t queuedBytes_ = 0;
    bool busy_ = false;
    bool stopped_ = false;
    std::uint64_t dropped_ = 0;
    std::thread thread_;
};

}  // namespace zelkor
