#pragma once

#include <tbb/blocked_range.h>

#include "driver/script_trees.h"

namespace zelkor {

// Loop body of the loading stage. The range holds argument positions (1 to
// argc - 1); position i is loaded into element i - 1 of the trees. Copies share
// the trees and the arguments, which they do not own. A load failure leaves the
// body as an exception (see ScriptLoader).
struct LoadStage {
    ScriptTrees* trees;
    int argc;
    char** argv;

    void operator()(const tbb::blocked_range<unsigned>& positions) const;
};

}  // namespace zelkor
