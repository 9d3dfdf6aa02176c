#include "runtime/script_warnings.h"

#include "archive/archive_format.h"
#include "runtime/messages.h"
#include "runtime/warning_log.h"
#include "script/script_language.h"

namespace zelkor {

void ScriptWarnings::Report(const ScriptRemark& remark)
{
    warnings_.Warn(message::InScript(message::At(script_, remark.line), Of(remark)));
}

std::string ScriptWarnings::Of(const ScriptRemark& remark)
{
    using Kind = ScriptRemark::Kind;
    switch (remark.kind) {
    case Kind::UnknownElement:
        return message::UnknownElement(remark.name);
    case Kind::UnknownAttribute:
        return message::UnknownAttribute(remark.name, remark.element);
    case Kind::RepeatedAttribute:
        return message::RepeatedAttribute(remark.name);
    case Kind::NotABoolean:
        return message::NotABoolean(remark.name, remark.value);
    case Kind::NotALevel:
        return message::NotALevel(remark.name, remark.value, std::to_string(CompressionLevel));
    case Kind::NotAVolumeSize:
        return message::NotAVolumeSize(remark.value, language::MaxVolumeSize);
    }
    return {};
}

}  // namespace zelkor
