#pragma once

#include <tbb/blocked_range.h>

#include "driver/script_trees.h"

namespace zelkor {

class CompressionCache;
class ProgressLine;
class WarningLog;

// Loop body of the executing stage. For each script index of the range, in
// ascending order, executes the loaded script at that index (named in warnings
// by its argument, argv[index + 1]). Copies share the trees, the warning log,
// the arguments, the compression cache and the progress line (null without
// one), which they do not own. Failures leave the body as exceptions; warnings
// go to the log.
struct ExecuteStage {
    const ScriptTrees* trees;
    WarningLog* warnings;
    char** argv;
    CompressionCache* cache;
    ProgressLine* progress;
    void operator()(const tbb::blocked_range<unsigned>& indexes) const;
};

}  // namespace zelkor
