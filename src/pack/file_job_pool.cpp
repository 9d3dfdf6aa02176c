#include "pack/file_job_pool.h"

#include <tbb/task_arena.h>

namespace zelkor {

namespace {

// Jobs per thread of the arena. A job is held by each file being loaded and by
// each large loaded file waiting for its turn.
constexpr std::size_t JobsPerThread = 2;

// Memory that idle jobs may keep resident, all jobs of one pool together. Files
// up to this share per buffer reuse their pages; larger ones touch them anew.
constexpr std::size_t KeptBytesPerPool = 32 * 1024 * 1024;

std::size_t JobsForArena()
{
    return JobsPerThread * static_cast<std::size_t>(tbb::this_task_arena::max_concurrency());
}

}  // namespace

FileJobPool::FileJobPool(CompressionCache* cache, MemoryBudget* budget)
    : FileJobPool(JobsForArena(), KeptBytesPerPool / (2 * JobsForArena()), cache, budget)
{
}

FileJobPool::FileJobPool(std::size_t count, std::size_t keptBytes, CompressionCache* cache, MemoryBudget* budget)
    : keptBytes_(keptBytes), budget_(budget)
{
    jobs_.reserve(count);
    free_.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        jobs_.push_back(std::make_unique<FileJob>(cache));
        free_.push_back(jobs_.back().get());
    }
}

FileJobPool::Lease FileJobPool::Take()
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (free_.empty())
        return Lease(nullptr, Returner{this});
    FileJob* job = free_.back();
    free_.pop_back();
    return Lease(job, Returner{this});
}

void FileJobPool::Give(FileJob* job)
{
    // Outside the lock: handing pages back is a system call per buffer.
    job->ReleaseMemory(keptBytes_);
    std::lock_guard<std::mutex> lock(mutex_);
    // Handed out again most recently returned first, so that a run of small files
    // keeps reusing the same few jobs and the pages they already touched.
    free_.push_back(job);
}

}  // namespace zelkor
