#include "cache/layered_store.h"

#include <algorithm>

#include "store/cache_entry.h"

namespace zelkor {

LayeredStore::LayeredStore(std::unique_ptr<LocalStore> local, std::unique_ptr<RemoteStore> remote, bool readOnly,
                           CacheProblemSink& problems, std::size_t queueBound)
    : local_(std::move(local)),
      remote_(std::move(remote)),
      readOnly_(readOnly),
      problems_(problems),
      started_(std::chrono::steady_clock::now()),
      keeps_([this](const CacheKey& key, std::span<const std::uint8_t> header,
                    std::span<const std::uint8_t> block) { return LocalOn() && local_->Put(key, header, block); },
             [this] {
                 if (LocalOn())
                     GiveUpLocal();
             },
             queueBound),
      uploads_([this](const CacheKey& key, std::span<const std::uint8_t> header,
                      std::span<const std::uint8_t> block) { return remote_->Put(key, header, block); },
               [this] { GiveUpRemote(); }, queueBound)
{
}

LayeredStore::~LayeredStore()
{
    // An upload under way ends soon, so that the queue's thread can be joined.
    keeps_.Stop();
    uploads_.Stop();
    remote_->Abandon();
}

std::chrono::milliseconds LayeredStore::EndWait(std::chrono::steady_clock::duration run)
{
    return std::max(std::chrono::milliseconds(1000), std::chrono::duration_cast<std::chrono::milliseconds>(run) / 20);
}

CacheStore::Got LayeredStore::Get(const CacheKey& key, std::uint64_t maxSize, const Buffer& buffer)
{
    if (LocalOn()) {
        Got got = local_->Get(key, maxSize, buffer);
        switch (got.kind) {
        case Got::Kind::Found:
        case Got::Kind::TooLarge:
            got.from = local_.get();
            return got;
        case Got::Kind::Failed:
            GiveUpLocal();
            break;
        case Got::Kind::Missing:
            break;
        }
    }
    if (RemoteOn()) {
        Got got = remote_->Get(key, maxSize, buffer);
        switch (got.kind) {
        case Got::Kind::Found:
        case Got::Kind::TooLarge:
            got.from = remote_.get();
            return got;
        case Got::Kind::Failed:
            GiveUpRemote();
            break;
        case Got::Kind::Missing:
            return {};
        }
    }
    return {LocalOn() || RemoteOn() ? Got::Kind::Missing : Got::Kind::Failed, {}};
}

bool LayeredStore::Put(const CacheKey& key, std::span<const std::uint8_t> header, std::span<const std::uint8_t> block)
{
    if (LocalOn() && !local_->Put(key, header, block))
        GiveUpLocal();
    if (RemoteOn() && !readOnly_)
        uploads_.Push(key, header, block);
    return LocalOn() || RemoteOn();
}

void LayeredStore::Remove(const CacheKey& key)
{
    if (LocalOn())
        local_->Remove(key);
}

void LayeredStore::Checked(const CacheKey& key, const Got& got)
{
    if (got.from != remote_.get())
        return;
    remote_->Checked(key, got);
    // The server's entry, now known good, is kept here for the next run: a copy
    // is written in the background (one that would overfill the queue is left
    // to the server).
    if (LocalOn() && got.entry.size() >= CacheEntry::HeaderSize)
        keeps_.Push(key, got.entry.first(CacheEntry::HeaderSize), got.entry.subspan(CacheEntry::HeaderSize));
}

bool LayeredStore::Flush(const CacheCounters& counters)
{
    // The local copies first: the directory's accounting below counts them.
    keeps_.Drain(EndWait(std::chrono::steady_clock::now() - started_));
    keeps_.Stop();
    if (RemoteOn() && !readOnly_)
        uploads_.Drain(EndWait(std::chrono::steady_clock::now() - started_));
    // Stopped before the remote is abandoned: an upload that fails then is one
    // the end of the run dropped, not a failing server.
    uploads_.Stop();
    remote_->Abandon();
    if (!LocalOn())
        return true;
    if (!local_->Flush(counters)) {
        GiveUpLocal();
        return true;
    }
    local_->RecordRemote(remote_->Url().Shown(), RemoteCounted());
    return true;
}

RemoteCounters LayeredStore::RemoteCounted() const
{
    RemoteCounters counters = remote_->Counted();
    counters.uploadsDropped = uploads_.Dropped();
    counters.unusable = remoteOff_.load();
    return counters;
}

std::optional<CacheProblem> LayeredStore::Unusable() const
{
    return std::nullopt;
}

CacheProblem LayeredStore::Damaged(const CacheKey& key) const
{
    return local_ ? local_->Damaged(key) : remote_->Damaged(key);
}

void LayeredStore::GiveUpLocal()
{
    localOff_.store(true);
    std::call_once(localWarned_, [&] { problems_.Report(*local_->Unusable()); });
}

void LayeredStore::GiveUpRemote()
{
    remoteOff_.store(true);
    uploads_.Stop();
    remote_->Abandon();
    std::call_once(remoteWarned_, [&] { problems_.Report(*remote_->Unusable()); });
}

}  // namespace zelkor
