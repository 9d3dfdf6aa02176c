#include "driver/xml_processor.h"

#include "script/script_language.h"
#include "script/warning_log.h"

namespace zelkor {

void XmlProcessor::operator()(const tbb::blocked_range<unsigned>& indexes) const
{
    for (unsigned i = indexes.begin(); i != indexes.end(); ++i) {
        const auto& script = ScriptLanguage::Root((*trees)[i]);
        for (const auto& command : script) {
            (void)command;  // commands are not executed yet
        }
    }
}

}  // namespace zelkor
