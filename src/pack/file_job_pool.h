#pragma once

#include <cstddef>
#include <memory>
#include <mutex>
#include <vector>

#include "pack/file_job.h"
#include "pack/memory_budget.h"

namespace zelkor {

// A fixed set of FileJobs that the files of pack commands borrow while they are
// in flight, so that loading a file allocates nothing. Every job is created by
// the constructor (an allocation failure leaves it), with its buffers untouched
// until a load uses them.
//
// A borrowed job comes back when its lease is destroyed, also when an exception
// passes. On its way back, the memory a large file made it touch is handed back
// to the system, so that idle jobs stay small: at most `keptBytes` per buffer
// remain resident.
//
// Take and the return of leases may happen on any threads at once. The pool must
// outlive every lease.
class FileJobPool {
public:
    struct Returner {
        FileJobPool* pool;
        void operator()(FileJob* job) const { pool->Give(job); }
    };
    using Lease = std::unique_ptr<FileJob, Returner>;

    // `count` jobs, each keeping at most `keptBytes` per buffer resident while
    // idle, all using `cache` when it is not null, admitted within `budget`
    // when it is not null.
    FileJobPool(std::size_t count, std::size_t keptBytes, CompressionCache* cache = nullptr,
                MemoryBudget* budget = nullptr);
    // A pool for the threads of the current task arena: two jobs per thread, so
    // that a large file waiting for its turn still leaves every thread a job to
    // load the next one, keeping 32 MiB resident among all its idle jobs. With
    // a `budget` (which must outlive the pool), the files its jobs load are
    // admitted within it (ParallelLoader).
    explicit FileJobPool(CompressionCache* cache, MemoryBudget* budget = nullptr);
    FileJobPool(const FileJobPool&) = delete;
    FileJobPool& operator=(const FileJobPool&) = delete;

    std::size_t Size() const { return jobs_.size(); }
    MemoryBudget* Budget() const { return budget_; }

    // Lends out a free job; an empty lease when all Size() jobs are lent.
    Lease Take();

private:
    void Give(FileJob* job);

    std::vector<std::unique_ptr<FileJob>> jobs_;
    std::size_t keptBytes_;
    MemoryBudget* budget_ = nullptr;
    std::mutex mutex_;
    std::vector<FileJob*> free_;  // the most recently returned job last
};

}  // namespace zelkor
