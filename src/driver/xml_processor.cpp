#include "driver/xml_processor.h"

#include "platform/race_annotations.h"
#include "script/file_job.h"
#include "script/script_processor.h"

namespace zelkor {

void XmlProcessor::operator()(const tbb::blocked_range<unsigned>& indexes) const
{
    // One set of load buffers per call, reused for every file of every script of
    // the range.
    HandOffScope handOff(trees);
    FileJob job;
    ScriptProcessor processor(job, *warnings);
    for (unsigned i = indexes.begin(); i != indexes.end(); ++i)
        processor.Run((*trees)[i]);
}

}  // namespace zelkor
