#include "remote/remote_store.h"

#include <algorithm>


namespace zelkor {

class RemoteStore::Lease {
public:
    explicit Lease(RemoteStore& store) : store_(store)
    {
        {
            const std::lock_guard<std::mutex> lock(store_.poolMutex_);
            if (!store_.idle_.empty()) {
                connection_ = std::move(store_.idle_.back());
                store_.idle_.pop_back();
            }
        }
        if (!connection_) {
            connection_ = HttpConnection::Make(store_.connection_);
            ++store_.connections_;
        }
    }
    ~Lease()
    {
        if (!connection_)
            return;
        const std::lock_guard<std::mutex> lock(store_.poolMutex_);
        store_.idle_.push_back(std::move(connection_));
    }
    Lease(const Lease&) = delete;
    Lease& operator=(const Lease&) = delete;

    HttpConnection* operator->() const { return connection_.get(); }
    explicit operator bool() const { return connection_ != nullptr; }

private:
    RemoteStore& store_;
    std::unique_ptr<HttpConnection> connection_;
};

RemoteStore::RemoteStore(RemoteUrl url, Options options)
    : url_(std::move(url)), budget_(options.requestTimeout, std::move(options.clock))
{
    connection_.requestTimeout = options.requestTimeout;
    connection_.connectTimeout = std::min(ConnectTimeout, options.requestTimeout);
    connection_.bearerToken = std::move(options.bearerToken);
    connection_.abandon = &abandoned_;
}

RemoteStore::~RemoteStore() = default;

std::unique_ptr<RemoteStore> RemoteStore::Open(const RemoteUrl& url, Options options)
{
    if (!HttpConnection::Available())
        return nullptr;
    std::unique_ptr<RemoteStore> store(new RemoteStore(url, std::move(options)));
    // The first connection proves the client can be set up (a token it cannot
    // send, say); it connects with the first request.
    if (!Lease(*store))
        return nullptr;
    return store;
}

CacheStore::Got RemoteStore::Get(const CacheKey& key, std::uint64_t maxSize, const Buffer& buffer)
{
    if (budget_.Spent())
        return {Got::Kind::Failed, {}};
    Lease connection(*this);
    if (!connection)
        return {Got::Kind::Failed, {}};
    const auto began = budget_.Now();
    std::span<std::uint8_t> room;
    std::size_t size = 0;
    const HttpConnection::Outcome outcome = connection->Get(
        url_.EntryUrl(key), maxSize,
        [&](std::size_t wanted) {
            room = buffer(wanted);
            return room;
        },
        size);
    switch (outcome) {
    case HttpConnection::Outcome::Ok:
        bytesDown_ += size;
        return {Got::Kind::Found, room.first(size)};
    case HttpConnection::Outcome::NotFound:
        ++misses_;
        if (!budget_.Missed(began, connections_.load()))
            return {Got::Kind::Failed, {}};
        return {};
    case HttpConnection::Outcome::Oversized:
    case HttpConnection::Outcome::Failed:
        break;
    }
    return {Got::Kind::Failed, {}};
}

bool RemoteStore::Put(const CacheKey& key, std::span<const std::uint8_t> header, std::span<const std::uint8_t> block)
{
    Lease connection(*this);
    if (!connection || connection->Put(url_.EntryUrl(key), {header, block}) != HttpConnection::Outcome::Ok)
        return false;
    ++uploads_;
    bytesUp_ += header.size() + block.size();
    return true;
}

void RemoteStore::Remove(const CacheKey&)
{
    ++damaged_;
    ++misses_;
}

void RemoteStore::Checked(const CacheKey&, const Got&)
{
    ++hits_;
}

bool RemoteStore::Flush(const CacheCounters&)
{
    return true;
}

std::optional<CacheProblem> RemoteStore::Unusable() const
{
    return CacheProblem::Unusable(CacheProblem::Store::Remote, url_.Shown());
}

CacheProblem RemoteStore::Damaged(const CacheKey& key) const
{
    return CacheProblem::Damaged(CacheProblem::Store::Remote, url_.Shown(), key);
}

RemoteCounters RemoteStore::Counted() const
{
    RemoteCounters counters;
    counters.hits = hits_.load();
    counters.misses = misses_.load();
    counters.damaged = damaged_.load();
    counters.uploads = uploads_.load();
    counters.bytesDown = bytesDown_.load();
    counters.bytesUp = bytesUp_.load();
    return counters;
}

}  // namespace zelkor
