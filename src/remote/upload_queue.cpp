#include "remote/upload_queue.h"

#include <algorithm>

namespace zelkor {

UploadQueue::UploadQueue(Upload upload, Failure failure, std::size_t bound)
    : upload_(std::move(upload)), failure_(std::move(failure)), bound_(bound)
{
}

UploadQueue::~UploadQueue()
{
    Stop();
    if (thread_.joinable())
        thread_.join();
}

void UploadQueue::Push(const CacheKey& key, std::span<const std::uint8_t> header, std::span<const std::uint8_t> block)
{
    const std::size_t size = header.size() + block.size();
    const std::lock_guard<std::mutex> lock(mutex_);
    if (stopped_ || size > bound_ - std::min(bound_, queuedBytes_)) {
        ++dropped_;
        return;
    }
    Item item{key, {}, header.size()};
    item.entry.reserve(size);
    item.entry.insert(item.entry.end(), header.begin(), header.end());
    item.entry.insert(item.entry.end(), block.begin(), block.end());
    items_.push_back(std::move(item));
    queuedBytes_ += size;
    if (!thread_.joinable())
        thread_ = std::thread([this] { Run(); });
    wake_.notify_one();
}

bool UploadQueue::Drain(std::chrono::milliseconds wait)
{
    std::unique_lock<std::mutex> lock(mutex_);
    return drained_.wait_for(lock, wait, [&] { return items_.empty() && !busy_; });
}

void UploadQueue::Stop()
{
    const std::lock_guard<std::mutex> lock(mutex_);
    stopped_ = true;
    dropped_ += items_.size();
    items_.clear();
    queuedBytes_ = 0;
    wake_.notify_all();
    if (!busy_)
        drained_.notify_all();
}

std::uint64_t UploadQueue::Dropped() const
{
    const std::lock_guard<std::mutex> lock(mutex_);
    return dropped_;
}

void UploadQueue::Run()
{
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        wake_.wait(lock, [&] { return stopped_ || !items_.empty(); });
        if (items_.empty())
            return;
        Item item = std::move(items_.front());
        items_.pop_front();
        busy_ = true;
        lock.unlock();
        const std::span<const std::uint8_t> entry(item.entry);
        const bool uploaded = upload_(item.key, entry.first(item.headerSize), entry.subspan(item.headerSize));
        if (!uploaded && failure_) {
            bool report = false;
            {
                const std::lock_guard<std::mutex> stopping(mutex_);
                report = !stopped_;
            }
            // A failure after Stop is the end of the run ending the upload.
            if (report)
                failure_();
        }
        lock.lock();
        busy_ = false;
        queuedBytes_ -= std::min(queuedBytes_, item.entry.size());
        if (!uploaded)
            ++dropped_;
        if (items_.empty())
            drained_.notify_all();
    }
}

}  // namespace zelkor
