#pragma once

#include <string>
#include <string_view>

#include <boost/property_tree/ptree.hpp>

namespace zelkor {

class WarningLog;

// Names what a script holds that the language passes over, so that a typo does
// not go unnoticed: an element that the language does not have, under ScriptFile
// or inside a command ("SCRIPT(LINE): unknown element <NAME> ignored!", one line
// for the element and nothing for what it contains), an attribute that its
// element does not have ("SCRIPT(LINE): unknown attribute NAME of <ELEMENT>
// ignored!"), and a BuildKeyfile value that is not a boolean ("SCRIPT(LINE):
// BuildKeyfile="VALUE" is not true or false, taken as false!"). A Patch inside a
// generate command may hold anything. SCRIPT is the script's name as given;
// "(LINE)" is left out for a tree that was not loaded from a script.
//
// Checking changes nothing: what is named is still ignored, exactly as before.
class ScriptCheck {
public:
    // Both must outlive the check.
    ScriptCheck(const std::string& scriptName, WarningLog& warnings) : scriptName_(scriptName), warnings_(warnings) {}

    // The attributes of the ScriptFile element itself.
    void Root(const boost::property_tree::ptree& root) const;

    // A child of ScriptFile, as the processor reaches it: for a command, its
    // attributes and everything inside it, in document order; for any other
    // element, the warning that it is ignored. Comments are not elements.
    // True when it named anything.
    bool Child(std::string_view name, const boost::property_tree::ptree& child) const;

private:
    // Writes `what` for `item` of `element` (0 the element, k its k-th attribute).
    void Warn(const boost::property_tree::ptree& element, std::size_t item, const std::string& what) const;

    const std::string& scriptName_;
    WarningLog& warnings_;
    mutable unsigned named_ = 0;
};

}  // namespace zelkor
