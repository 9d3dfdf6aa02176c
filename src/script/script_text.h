#pragma once

#include <string>

namespace zelkor {

// Values written into script text so that the script loader reads them back
// exactly as they were given. Values that hold none of the characters below are
// written byte for byte.
class ScriptText {
public:
    // For an attribute value between double quotes: "&", "<", '"' and NUL become
    // references. The loader folds CR LF to LF before it parses, so a CR that
    // precedes an LF becomes a reference too, which the fold cannot touch.
    static std::string Attribute(const std::string& value);

    // For the content of a CDATA section, which cannot hold "]]>": the section is
    // closed between "]]" and ">" and a new one opened, and the loader joins the
    // pieces. A CR LF is split between two sections the same way, and a NUL,
    // which no section can hold, becomes a reference between two sections.
    static std::string Cdata(const std::string& value);
};

}  // namespace zelkor
