#include "script/script_text.h"

namespace zelkor {

std::string ScriptText::Attribute(const std::string& value)
{
    std::string out;
    out.reserve(value.size());
    for (std::size_t i = 0; i < value.size(); ++i) {
        switch (value[i]) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '"': out += "&quot;"; break;
        case '\0': out += "&#0;"; break;
        case '\r':
            out += i + 1 < value.size() && value[i + 1] == '\n' ? "&#13;" : "\r";
            break;
        default: out += value[i]; break;
        }
    }
    return out;
}

std::string ScriptText::Cdata(const std::string& value)
{
    std::string out;
    out.reserve(value.size());
    for (std::size_t i = 0; i < value.size(); ++i) {
        if (value.compare(i, 3, "]]>") == 0) {
            out += "]]]]><![CDATA[>";
            i += 2;
        } else if (value[i] == '\0') {
            // No byte of a CDATA section can stand for a NUL; a reference between
            // two sections can, and the reader joins them.
            out += "]]>&#0;<![CDATA[";
        } else if (value.compare(i, 2, "\r\n") == 0) {
            out += "\r]]><![CDATA[\n";
            ++i;
        } else {
            out += value[i];
        }
    }
    return out;
}

}  // namespace zelkor
