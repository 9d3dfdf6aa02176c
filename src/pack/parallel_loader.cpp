#include "pack/parallel_loader.h"

#include <cstring>
#include <stdexcept>

#include <tbb/task_arena.h>

#include "archive/archive_format.h"
#include "platform/file_system.h"
#include "platform/race_annotations.h"
#include "pack/file_job.h"
#include "pack/file_job_pool.h"

namespace zelkor {

namespace {

// Stored bytes up to this size are copied out of their job once loaded, so that
// the job can take the next file while this one waits for its turn; a copy is
// cheap next to compressing. Larger results wait in their job.
constexpr std::uint64_t CopyLimit = 1024 * 1024;

// Waiting files may hold this much per job of the pool, by default.
constexpr std::size_t WaitingBytesPerJob = 16 * 1024 * 1024;

}  // namespace

struct ParallelLoader::Slot {
    const PackSource* source = nullptr;
    FileJobPool::Lease job;
    std::unique_ptr<std::uint8_t[]> copy;  // not zero-filled: it is overwritten at once
    std::optional<LoadedFile> loaded;
    MemoryBudget::Reservation memory;  // what loading the file may hold, within the pool's budget
    std::uint64_t sequence = 0;  // place in the command's order of admitted files
    std::size_t heldBytes = 0;   // memory the finished slot holds until it is consumed
    std::exception_ptr error;
    bool finished = false;
};

ParallelLoader::ParallelLoader(FileJobPool& jobs, std::size_t waitingBytes)
    : jobs_(jobs), waitingBytes_(waitingBytes)
{
}

ParallelLoader::ParallelLoader(FileJobPool& jobs) : ParallelLoader(jobs, WaitingBytesPerJob * jobs.Size())
{
}

ParallelLoader::~ParallelLoader() = default;

// How the work moves: Run admits the first files and then waits, helping with
// the loads. Each admitted file gets one task, which loads the earliest file not
// yet started. After each load, the thread that did it admits more files (as far
// as the bounds allow, now that its job may be free), then takes the consumer's
// role, unless another thread has it (which then goes round once more): it
// passes every finished file at the front of the window to the consumer, in
// order, admitting again after each. So the consumer runs on one thread at a time
// but on any thread, admission goes on while it runs, and no thread waits for
// another.
void ParallelLoader::Run(std::span<const PackSource> sources, const FileJob::Options& options,
                         const Consumer& consume)
{
    sources_ = sources;
    options_ = options;
    next_ = 0;
    nextNeed_.reset();
    consume_ = &consume;
    failure_ = nullptr;
    admitted_ = 0;
    consumed_ = 0;
    finishedBytes_ = 0;
    consuming_ = false;
    consumeAgain_ = false;

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
        Admit();
        group.wait();
    });
    AcceptHandOff(this);

    // Every task has finished. Slots left over after a failure give their jobs back.
    group_ = nullptr;
    queued_.clear();
    const bool complete = window_.empty() && next_ == sources_.size();
    window_.clear();
    if (failure_)
        std::rethrow_exception(failure_);
    // Never expected; but an archive must not end early without a word.
    if (!complete)
        throw std::logic_error("The loading of files stopped before the last one!");
}

void ParallelLoader::Work()
{
    HandOffScope handOff(this);
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
        bool next;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            next = slot->sequence == consumed_;
        }
        // A file whose turn has come is consumed right away, from its job; one that
        // has to wait frees its job for the next file, when its result is small.
        if (!next && slot->loaded)
            Detach(*slot);
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
    Admit();
    Consume();
}

void ParallelLoader::Load(Slot& slot)
{
    FileJob::Options options = options_;
    options.storeRaw = slot.source->storeRaw;
    slot.loaded = slot.job->Load(slot.source->path, options);
    if (!slot.loaded) {
        slot.job.reset();
        return;
    }
    // The job holds the raw bytes it read (none for a file the archive cannot
    // describe, which is not read) and, when compressed, the stored ones.
    const LoadedFile& loaded = *slot.loaded;
    const bool read = loaded.rawSize < ArchiveAddressLimit && !loaded.stream;
    slot.heldBytes = static_cast<std::size_t>((read ? loaded.rawSize : 0) +
                                              (loaded.IsCompressed() ? loaded.stored.size() : 0));
}

void ParallelLoader::Detach(Slot& slot)
{
    LoadedFile& loaded = *slot.loaded;
    // A streamed file is read from its job while it is written.
    if (loaded.stored.size() > CopyLimit || loaded.stream)
        return;
    const std::size_t size = loaded.stored.size();
    slot.copy = std::make_unique_for_overwrite<std::uint8_t[]>(size);
    if (size > 0)
        std::memcpy(slot.copy.get(), loaded.stored.data(), size);
    loaded.stored = std::span(slot.copy.get(), size);
    slot.heldBytes = size;
    slot.job.reset();
    slot.memory.Release();
}

void ParallelLoader::Consume()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (consuming_) {
            consumeAgain_ = true;
            return;
        }
        consuming_ = true;
    }
    for (;;) {
        try {
            while (ConsumeNext())
                Admit();
        } catch (...) {
            Stop(std::current_exception());
        }
        std::lock_guard<std::mutex> lock(mutex_);
        if (!consumeAgain_) {
            consuming_ = false;
            return;
        }
        consumeAgain_ = false;
    }
}

bool ParallelLoader::ConsumeNext()
{
    Slot* head;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (failure_ || window_.empty() || !window_.front()->finished)
            return false;
        head = window_.front().get();
        finishedBytes_ -= head->heldBytes;
        ++consumed_;
    }
    if (head->error)
        std::rethrow_exception(head->error);
    (*consume_)(*head->source, head->loaded);
    std::unique_ptr<Slot> done;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        done = std::move(window_.front());
        window_.pop_front();
    }
    // Gives the job (if it still has one) back to the pool, outside the lock.
    done.reset();
    return true;
}

void ParallelLoader::Admit()
{
    std::lock_guard<std::mutex> lock(mutex_);
    try {
        while (next_ < sources_.size() && !failure_) {
            if (!window_.empty() && finishedBytes_ >= waitingBytes_)
                return;
            // With the window empty every job is free, so the next file always gets one.
            FileJobPool::Lease job = jobs_.Take();
            if (!job)
                return;
            // Within a budget, a file that does not fit waits while others are
            // loaded; with nothing of this command in flight, it waits for
            // room, which other commands' files make as they finish.
            MemoryBudget::Reservation memory;
            if (MemoryBudget* budget = jobs_.Budget()) {
                if (!nextNeed_) {
                    const PackSource& source = sources_[next_];
                    const std::optional<FileStatus> status = StatusOf(source.path);
                    nextNeed_ = status && status->IsRegular() ? FileJob::MemoryNeeded(status->size, source.storeRaw)
                                                              : 0;
                }
                memory = budget->Reserve(*nextNeed_, window_.empty());
                if (!memory)
                    return;
                nextNeed_.reset();
            }
            auto slot = std::make_unique<Slot>();
            slot->memory = std::move(memory);
            slot->source = &sources_[next_];
            slot->job = std::move(job);
            slot->sequence = admitted_;
            window_.push_back(std::move(slot));
            queued_.push_back(window_.back().get());
            ++admitted_;
            ++next_;
            AnnounceHandOff(this);
            group_->run([this] { Work(); });
        }
    } catch (...) {
        StopLocked(std::current_exception());
    }
}

void ParallelLoader::Stop(std::exception_ptr failure)
{
    std::lock_guard<std::mutex> lock(mutex_);
    StopLocked(std::move(failure));
}

void ParallelLoader::StopLocked(std::exception_ptr failure)
{
    if (!failure_)
        failure_ = std::move(failure);
    // Files not started yet are never loaded; those being loaded finish unseen.
    queued_.clear();
}

}  // namespace zelkor
