#pragma once

#include <string>

namespace zelkor {

// Something a script holds that the language passes over, as facts: where it
// is and what it is. The tool's layer of words (ScriptWarnings) says it.
struct ScriptRemark {
    enum class Kind {
        UnknownElement,     // `name`: an element the language does not have there
        UnknownAttribute,   // `name` of `element`: an attribute it does not have
        RepeatedAttribute,  // `name`: a second attribute of that name
        NotABoolean,        // `name`="`value`": not true or false, taken as false
        NotALevel,          // `name`="`value`": not a compression level, the default taken
        NotAVolumeSize,     // `name`="`value`": not a volume size, taken as absent
    };

    Kind kind = Kind::UnknownElement;
    std::string name;
    std::string element;
    std::string value;
    // The line of the element or attribute in its script; 0 when unknown (a
    // tree that was not loaded from a script).
    unsigned long line = 0;

    bool operator==(const ScriptRemark& other) const = default;
};

// Where ScriptCheck reports what it finds.
class ScriptRemarkSink {
public:
    virtual ~ScriptRemarkSink() = default;
    virtual void Report(const ScriptRemark& remark) = 0;
};

}  // namespace zelkor
