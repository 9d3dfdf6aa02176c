#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>

#include <optional>
#include <span>

#include <tbb/task_group.h>

#include "archive/loaded_file.h"
#include "platform/file.h"
#include "pack/file_job.h"
#include "pack/pack_source.h"

namespace zelkor {

class FileJobPool;

// Loads the sources of a pack command (FileJob::Load) several at a time on the
// threads of the current task arena, and hands each result to a consumer one
// at a time, in the order of the sources: the consumer sees exactly what
// loading each file right before its turn would show, and nothing after a call
// that threw. Loads run ahead bounded by the pool's jobs and by `waitingBytes`
// of finished files waiting for their turn (small results are copied out of
// their job). An exception from a load is rethrown at that file's turn, one from
// the consumer as it is; Run returns only after every load it started ended.
//
// With a memory budget (FileJobPool::Budget), a file is admitted only when
// what its load needs fits beside what is in flight (MemoryBudget).
//
// Built by hand rather than on tbb::parallel_pipeline: a pipeline bounds files
// in flight by count, so one large file at the front stalls every thread (24%
// slower on the bench corpus); this window is bounded by bytes instead.
//
// One Run at a time; the pool must outlive the loader.
class ParallelLoader {
public:
    // Called with each source and what loading it gave: nothing when it could not
    // be loaded. The consumer may overwrite the stored bytes.
    using Consumer = std::function<void(const PackSource& source, std::optional<LoadedFile>& loaded)>;

    // Loaded files waiting for their turn hold at most `waitingBytes`.
    ParallelLoader(FileJobPool& jobs, std::size_t waitingBytes);
    // The same, with 16 MiB per job of the pool: while one thread compresses a
    // large file, the others go on with the files after it, so the window has to
    // hold what they produce meanwhile.
    explicit ParallelLoader(FileJobPool& jobs);
    ~ParallelLoader();
    ParallelLoader(const ParallelLoader&) = delete;
    ParallelLoader& operator=(const ParallelLoader&) = delete;

    // Loads every source with `options` (see FileJob::Load) and passes it to
    // `consume`. The sources must stay in place until Run returns.
    void Run(std::span<const PackSource> sources, const FileJob::Options& options, const Consumer& consume);
    void Run(std::span<const PackSource> sources, const Consumer& consume) { Run(sources, {}, consume); }

private:
    struct Slot;

    void Work();
    void Load(Slot& slot);
    void Detach(Slot& slot);
    void Consume();
    bool ConsumeNext();
    void Admit();
    void Stop(std::exception_ptr failure);
    void StopLocked(std::exception_ptr failure);

    FileJobPool& jobs_;
    const std::size_t waitingBytes_;

    // The state of one Run. The consumer is called only by the thread that holds
    // the consumer's role (see Consume); everything else below, and every slot's
    // `finished`, is guarded by mutex_.
    const Consumer* consume_ = nullptr;
    tbb::task_group* group_ = nullptr;

    std::mutex mutex_;
    std::span<const PackSource> sources_;
    FileJob::Options options_;
    std::size_t next_ = 0;  // the first source not admitted yet
    std::optional<std::uint64_t> nextNeed_;  // the memory its load needs, once asked
    std::deque<std::unique_ptr<Slot>> window_;  // admitted and not yet consumed, in order
    std::deque<Slot*> queued_;                  // admitted and not yet started, in order
    std::uint64_t admitted_ = 0;
    std::uint64_t consumed_ = 0;     // files taken by the consumer (or being taken)
    std::size_t finishedBytes_ = 0;  // held by finished slots that wait for their turn
    bool consuming_ = false;
    bool consumeAgain_ = false;
    std::exception_ptr failure_;
};

}  // namespace zelkor
