#include "driver/xml_processor.h"

#include "script/warning_log.h"

namespace zelkor {

void XmlProcessor::operator()(const tbb::blocked_range<unsigned>& indexes) const
{
    for (unsigned i = indexes.begin(); i != indexes.end(); ++i) {
        // The first top-level ScriptFile element is the script; its absence is a
        // failure ("No such node (ScriptFile)").
        const auto& script = (*trees)[i].get_child("ScriptFile");
        for (const auto& command : script) {
            (void)command;  // commands are not executed yet
        }
    }
}

}  // namespace zelkor
