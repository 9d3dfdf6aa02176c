#include "script/script_language.h"

namespace zelkor {

namespace {

std::string AttributePath(const std::string& name)
{
    return "<xmlattr>." + name;
}

}  // namespace

const ScriptLanguage::Element& ScriptLanguage::Root(const Element& tree)
{
    return tree.get_child("ScriptFile");
}

std::string ScriptLanguage::RequiredAttribute(const Element& element, const std::string& name)
{
    return element.get<std::string>(AttributePath(name));
}

std::optional<std::string> ScriptLanguage::OptionalAttribute(const Element& element,
                                                             const std::string& name)
{
    if (auto value = element.get_optional<std::string>(AttributePath(name)))
        return *value;
    return std::nullopt;
}

bool ScriptLanguage::BooleanAttribute(const Element& element, const std::string& name)
{
    // The property tree's translator reads an integer first and then the words
    // true/false, and insists that nothing but white space follows.
    return element.get<bool>(AttributePath(name), false);
}

ScriptLanguage::InputParts ScriptLanguage::SplitInput(const std::string& input)
{
    const auto colon = input.find(':');
    if (colon == std::string::npos)
        return {input, std::string()};
    return {input.substr(0, colon), input.substr(colon + 1)};
}

}  // namespace zelkor
