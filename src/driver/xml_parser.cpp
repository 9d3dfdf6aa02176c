#include "driver/xml_parser.h"

#include <string>

#include "driver/script_loader.h"
#include "platform/race_annotations.h"

namespace zelkor {

void XmlParser::operator()(const tbb::blocked_range<unsigned>& positions) const
{
    HandOffScope handOff(trees);
    for (unsigned i = positions.begin(); i != positions.end(); ++i) {
        const std::string path(argv[i]);
        ScriptLoader::Load(path, (*trees)[i - 1]);
    }
}

}  // namespace zelkor
