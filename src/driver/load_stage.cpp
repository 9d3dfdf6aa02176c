#include "driver/load_stage.h"

#include <string>

#include "platform/race_annotations.h"
#include "script/script_loader.h"

namespace zelkor {

void LoadStage::operator()(const tbb::blocked_range<unsigned>& positions) const
{
    HandOffScope handOff(trees);
    for (unsigned i = positions.begin(); i != positions.end(); ++i) {
        const std::string path(argv[i]);
        ScriptLoader::Load(path, (*trees)[i - 1]);
    }
}

}  // namespace zelkor
