#pragma once

#include <string>
#include <string_view>

#include <boost/property_tree/ptree.hpp>

#include "script/script_remark.h"

namespace zelkor {

// Names what a script holds that the language passes over, so that a typo does
// not go unnoticed: an element that the language does not have, under ScriptFile
// or inside a command (one remark for the element and nothing for what it
// contains), an attribute that its element does not have, and a BuildKeyfile value that is not a boolean ("SCRIPT(LINE):
// BuildKeyfile="VALUE" is not true or false, taken as false!"). A Patch inside a
// generate command may hold anything. SCRIPT is the script's name as given;
// "(LINE)" is left out for a tree that was not loaded from a script.
//
// Checking changes nothing: what is named is still ignored, exactly as before.
class ScriptCheck {
public:
    // The sink must outlive the check.
    explicit ScriptCheck(ScriptRemarkSink& remarks) : remarks_(remarks) {}

    // The attributes of the ScriptFile element itself.
    void Root(const boost::property_tree::ptree& root) const;

    // A child of ScriptFile, as the processor reaches it: for a command, its
    // attributes and everything inside it, in document order; for any other
    // element, the remark that it is ignored. Comments are not elements.
    // True when it named anything.
    bool Child(std::string_view name, const boost::property_tree::ptree& child) const;

private:
    // Reports `remark` at `item` of `element` (0 the element, k its k-th attribute).
    void Report(const boost::property_tree::ptree& element, std::size_t item, ScriptRemark remark) const;

    ScriptRemarkSink& remarks_;
    mutable unsigned named_ = 0;
};

}  // namespace zelkor
