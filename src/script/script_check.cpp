#include "script/script_check.h"

#include <algorithm>
#include <functional>
#include <span>

#include "script/script_language.h"
#include "script/script_loader.h"
#include "script/script_vocabulary.h"
#include "platform/warning_log.h"

namespace zelkor {

namespace pt = boost::property_tree;
namespace v = vocabulary;

namespace {

using Names = std::span<const std::string_view>;

// What an element of the language may hold.
struct ElementRule {
    std::string_view name;
    Names attributes;
    Names children;
    bool holdsAnything = false;  // any attributes and content, unchecked
};

constexpr std::string_view RootChildren[] = {v::CreateOrvanPack, v::CreateOrvanPackXml};
constexpr std::string_view PackAttributes[] = {v::ArchivePath, v::BuildKeyfile, v::KeyPath, v::KeySeedPath};
constexpr std::string_view PackChildren[] = {v::File};
constexpr std::string_view FileAttributes[] = {v::ArchivedPath};
constexpr std::string_view GenerateAttributes[] = {v::Input,        v::XmlPath, v::ArchivePath,
                                                   v::BuildKeyfile, v::KeyPath, v::KeySeedPath};
constexpr std::string_view GenerateChildren[] = {v::Ignore, v::Add, v::Patch};
constexpr std::string_view IgnoreAttributes[] = {v::Pattern};

const ElementRule Rules[] = {
    {v::ScriptFile, {}, RootChildren},
    {v::CreateOrvanPack, PackAttributes, PackChildren},
    {v::File, FileAttributes, {}},
    {v::CreateOrvanPackXml, GenerateAttributes, GenerateChildren},
    {v::Ignore, IgnoreAttributes, {}},
    {v::Add, {}, {}},
    {v::Patch, {}, {}, true},
};

// The rule of the child `name` of an element of `parent`, or none when the
// language has no such child there.
const ElementRule* ChildRule(const ElementRule& parent, std::string_view name)
{
    if (std::find(parent.children.begin(), parent.children.end(), name) == parent.children.end())
        return nullptr;
    const auto* rule =
        std::find_if(std::begin(Rules), std::end(Rules), [&](const ElementRule& r) { return r.name == name; });
    return rule == std::end(Rules) ? nullptr : rule;
}

const ElementRule& RootRule()
{
    return Rules[0];
}

// Keys of the tree that are not elements (attributes, comments, lines) start
// with '<', which no element name can.
bool IsElement(std::string_view key)
{
    return !key.empty() && key.front() != '<';
}

std::string UnknownElement(std::string_view name)
{
    return "unknown element <" + std::string(name) + "> ignored!";
}

using WarnAt = std::function<void(const pt::ptree& element, std::size_t item, const std::string& what)>;

void CheckAttributes(const ElementRule& rule, const pt::ptree& element, const WarnAt& warn)
{
    const auto attributes = element.get_child_optional(pt::ptree::path_type(std::string(v::AttributesKey)));
    if (!attributes)
        return;
    std::size_t item = 0;
    for (const auto& [name, value] : *attributes) {
        ++item;
        if (std::find(rule.attributes.begin(), rule.attributes.end(), name) == rule.attributes.end())
            warn(element, item, "unknown attribute " + name + " of <" + std::string(rule.name) + "> ignored!");
        else if (name == v::BuildKeyfile && !ScriptLanguage::Boolean(value.data()))
            warn(element, item,
                 std::string(v::BuildKeyfile) + "=\"" + value.data() + "\" is not true or false, taken as false!");
    }
}

// The element's attributes, then its children in document order, depth first.
void CheckElement(const ElementRule& rule, const pt::ptree& element, const WarnAt& warn)
{
    if (rule.holdsAnything)
        return;
    CheckAttributes(rule, element, warn);
    for (const auto& [name, child] : element) {
        if (!IsElement(name))
            continue;
        if (const ElementRule* childRule = ChildRule(rule, name))
            CheckElement(*childRule, child, warn);
        else
            warn(child, 0, UnknownElement(name));
    }
}

}  // namespace

void ScriptCheck::Root(const pt::ptree& root) const
{
    CheckAttributes(RootRule(), root, [this](const pt::ptree& e, std::size_t item, const std::string& what) {
        Warn(e, item, what);
    });
}

void ScriptCheck::Child(std::string_view name, const pt::ptree& child) const
{
    if (!IsElement(name))
        return;
    const WarnAt warn = [this](const pt::ptree& e, std::size_t item, const std::string& what) { Warn(e, item, what); };
    if (const ElementRule* rule = ChildRule(RootRule(), name))
        CheckElement(*rule, child, warn);
    else
        warn(child, 0, UnknownElement(name));
}

void ScriptCheck::Warn(const pt::ptree& element, std::size_t item, const std::string& what) const
{
    std::string line = scriptName_;
    if (const auto number = ScriptLoader::Line(element, item)) {
        line += '(';
        line += std::to_string(*number);
        line += ')';
    }
    line += ": ";
    line += what;
    warnings_.Warn(line);
}

}  // namespace zelkor
