#include "driver/execute_stage.h"

#include "platform/race_annotations.h"
#include "pack/file_job_pool.h"
#include "commands/script_processor.h"

namespace zelkor {

void ExecuteStage::operator()(const tbb::blocked_range<unsigned>& indexes) const
{
    // One pool of load buffers per call, reused for every file of every script of
    // the range.
    HandOffScope handOff(trees);
    FileJobPool jobs(cache);
    ScriptProcessor processor(jobs, *warnings, progress);
    for (unsigned i = indexes.begin(); i != indexes.end(); ++i)
        processor.Run((*trees)[i], argv[i + 1]);
}

}  // namespace zelkor
