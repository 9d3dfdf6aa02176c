#include "script/parallel_loader.h"

#include <cstring>
#include <stdexcept>

#include <tbb/task_arena.h>

#include "script/byte_buffer.h"
#include "script/file_job.h"
#include "script/file_job_pool.h"
#include "script/script_language.h"

namespace zelkor {

namespace {

// Stored bytes up to this size are copied out of their job once loaded, so that
// the job can take the next file while this one waits for its turn; a copy is
// cheap next to compressing. Larger results wait in their job.
constexpr std::uint64_t CopyLimit = 1024 * 1024;

}  // namespace

struct ParallelLoader::Slot {
    const Element* file = nullptr;
    FileJobPool::Lease job;
    ByteBuffer copy;
    Result result;
    std::size_t heldBytes = 0;  // memory the finished slot holds until it is consumed
    std::exception_ptr error;
    bool finished = false;
};

ParallelLoader::ParallelLoader(FileJobPool& jobs, std::size_t waitingBytes)
    : jobs_(jobs), waitingBytes_(waitingBytes)
{
}

ParallelLoader::~ParallelLoader() = default;

// How the work moves: Run admits the first files and then waits, helping with
// the loads. Each admitted file gets one task, which loads the earliest file not
// yet started. After each load, the thread that did it takes the drain (unless
// another thread has it, which then goes round once more): it passes every
// finished file at the front of the window to the consumer, in order, then admits
// files for as long as the bounds allow. So the consumer and the input run on one
// thread at a time but on any thread, and no thread ever waits for another.
void ParallelLoader::Run(const Element& command, const Consumer& consume)
{
    next_ = command.begin();
    end_ = command.end();
    consume_ = &consume;
    failure_ = nullptr;
    finishedBytes_ = 0;
    draining_ = false;
    drainAgain_ = false;

    // The tasks get a context of their own: when another script fails, the
    // driver's loop cancels what has not started yet, but a command that is
    // running goes on to its end, and so must its loads.
    tbb::task_group_context context(tbb::task_group_context::isolated);
    // Isolated, so that this thread, while it waits here, helps only with these
    // loads and never starts another script on top of this command (which would
    // hold the command up and stack a second pool of jobs on the same thread).
    tbb::this_task_arena::isolate([&] {
        tbb::task_group group(context);
        group_ = &group;
        Drain();
        group.wait();
    });

    // Every task has finished. Slots left over after a failure give their jobs back.
    group_ = nullptr;
    queued_.clear();
    const bool complete = window_.empty() && next_ == end_;
    window_.clear();
    if (failure_)
        std::rethrow_exception(failure_);
    // Never expected; but an archive must not end early without a word.
    if (!complete)
        throw std::logic_error("The loading of files stopped before the last one!");
}

void ParallelLoader::Work()
{
    Slot* slot;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (queued_.empty())
            return;
        slot = queued_.front();
        queued_.pop_front();
    }
    try {
        Load(*slot);
    } catch (...) {
        slot->error = std::current_exception();
        slot->job.reset();
        slot->heldBytes = 0;
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        slot->finished = true;
        finishedBytes_ += slot->heldBytes;
    }
    Drain();
}

void ParallelLoader::Load(Slot& slot)
{
    FileJob& job = *slot.job;
    Result& result = slot.result;
    result.loaded = job.Load(ScriptLanguage::Text(*slot.file));
    if (!result.loaded) {
        slot.job.reset();
        return;
    }
    result.rawSize = job.rawSize;
    result.storedSize = job.storedSize;
    result.contentHash = job.contentHash;
    if (job.storedSize <= CopyLimit) {
        const auto size = static_cast<std::size_t>(job.storedSize);
        slot.copy = ByteBuffer(size);
        if (size > 0)
            std::memcpy(slot.copy.data(), job.storedBytes.data(), size);
        result.storedBytes = slot.copy.data();
        slot.heldBytes = size;
        slot.job.reset();
    } else {
        result.storedBytes = job.storedBytes.data();
        slot.heldBytes = static_cast<std::size_t>(job.rawSize + job.storedSize);
    }
}

void ParallelLoader::Drain()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (draining_) {
            drainAgain_ = true;
            return;
        }
        draining_ = true;
    }
    for (;;) {
        try {
            ConsumeFinished();
            Admit();
        } catch (...) {
            Stop(std::current_exception());
        }
        std::lock_guard<std::mutex> lock(mutex_);
        if (!drainAgain_) {
            draining_ = false;
            return;
        }
        drainAgain_ = false;
    }
}

void ParallelLoader::ConsumeFinished()
{
    for (;;) {
        Slot* head;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (failure_ || window_.empty() || !window_.front()->finished)
                return;
            head = window_.front().get();
            finishedBytes_ -= head->heldBytes;
        }
        if (head->error)
            std::rethrow_exception(head->error);
        (*consume_)(*head->file, head->result);
        // Gives the job (if it still has one) back to the pool.
        window_.pop_front();
    }
}

void ParallelLoader::Admit()
{
    while (next_ != end_) {
        if (next_->first != "File") {
            ++next_;
            continue;
        }
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (failure_ || (!window_.empty() && finishedBytes_ >= waitingBytes_))
                return;
        }
        // With the window empty every job is free, so the next file always gets one.
        FileJobPool::Lease job = jobs_.Take();
        if (!job)
            return;
        auto slot = std::make_unique<Slot>();
        slot->file = &next_->second;
        slot->job = std::move(job);
        window_.push_back(std::move(slot));
        ++next_;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            queued_.push_back(window_.back().get());
        }
        group_->run([this] { Work(); });
    }
}

void ParallelLoader::Stop(std::exception_ptr failure)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (!failure_)
        failure_ = failure;
    // Files not started yet are never loaded; those being loaded finish unseen.
    queued_.clear();
}

}  // namespace zelkor
