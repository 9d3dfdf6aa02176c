#include "driver/xml_processor.h"

#include <cstddef>

#include <tbb/task_arena.h>

#include "platform/race_annotations.h"
#include "script/file_job_pool.h"
#include "script/script_processor.h"

namespace zelkor {

namespace {

// Jobs per thread of the arena. A job is held by each file being loaded and by
// each large loaded file waiting for its turn; with two per thread, a large file
// waiting at the front still leaves every thread a job to load the next one.
constexpr std::size_t JobsPerThread = 2;

// Memory that idle jobs may keep resident, all jobs of one call together. Files
// up to this share per buffer reuse their pages; larger ones touch them anew.
constexpr std::size_t KeptBytesPerCall = 32 * 1024 * 1024;

}  // namespace

void XmlProcessor::operator()(const tbb::blocked_range<unsigned>& indexes) const
{
    // One pool of load buffers per call, reused for every file of every script of
    // the range.
    HandOffScope handOff(trees);
    const std::size_t count =
        JobsPerThread * static_cast<std::size_t>(tbb::this_task_arena::max_concurrency());
    FileJobPool jobs(count, KeptBytesPerCall / (2 * count));
    ScriptProcessor processor(jobs, *warnings);
    for (unsigned i = indexes.begin(); i != indexes.end(); ++i)
        processor.Run((*trees)[i]);
}

}  // namespace zelkor
