#include "script/script_check.h"

#include <algorithm>
#include <functional>
#include <vector>

#include "script/script_grammar.h"
#include "script/script_language.h"
#include "script/script_loader.h"
#include "script/script_vocabulary.h"

namespace zelkor {

namespace pt = boost::property_tree;
namespace v = vocabulary;

namespace {

using grammar::ElementRule;
using grammar::IsElement;

using Kind = ScriptRemark::Kind;
using WarnAt = std::function<void(const pt::ptree& element, std::size_t item, ScriptRemark remark)>;

ScriptRemark Remark(Kind kind, std::string_view name, std::string_view element = {}, std::string_view value = {})
{
    ScriptRemark remark;
    remark.kind = kind;
    remark.name = name;
    remark.element = element;
    remark.value = value;
    return remark;
}

void CheckAttributes(const ElementRule& rule, const pt::ptree& element, const WarnAt& warn)
{
    const auto attributes = element.get_child_optional(pt::ptree::path_type(std::string(v::AttributesKey)));
    if (!attributes)
        return;
    std::vector<std::string_view> seen;
    std::size_t item = 0;
    for (const auto& [name, value] : *attributes) {
        ++item;
        // Lookups take the first of several; the others would pass unnoticed.
        if (std::find(seen.begin(), seen.end(), name) != seen.end())
            warn(element, item, Remark(Kind::RepeatedAttribute, name));
        else if (!grammar::HasAttribute(rule, name))
            warn(element, item, Remark(Kind::UnknownAttribute, name, rule.name));
        else if (name == v::BuildKeyfile && !language::Boolean(value.data()))
            warn(element, item, Remark(Kind::NotABoolean, name, {}, value.data()));
        else if (name == v::Level && !language::Level(value.data()))
            warn(element, item, Remark(Kind::NotALevel, name, {}, value.data()));
        else if (name == v::VolumeSize && !language::VolumeSize(value.data()))
            warn(element, item, Remark(Kind::NotAVolumeSize, name, {}, value.data()));
        seen.push_back(name);
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
        if (const ElementRule* childRule = grammar::Child(rule, name))
            CheckElement(*childRule, child, warn);
        else
            warn(child, 0, Remark(Kind::UnknownElement, name));
    }
}

}  // namespace

void ScriptCheck::Root(const pt::ptree& root) const
{
    CheckAttributes(grammar::Root(), root, [this](const pt::ptree& e, std::size_t item, ScriptRemark remark) {
        Report(e, item, std::move(remark));
    });
}

bool ScriptCheck::Child(std::string_view name, const pt::ptree& child) const
{
    if (!IsElement(name))
        return false;
    const unsigned before = named_;
    const WarnAt warn = [this](const pt::ptree& e, std::size_t item, ScriptRemark remark) {
        Report(e, item, std::move(remark));
    };
    if (const ElementRule* rule = grammar::Child(grammar::Root(), name))
        CheckElement(*rule, child, warn);
    else
        warn(child, 0, Remark(Kind::UnknownElement, name));
    return named_ != before;
}

void ScriptCheck::Report(const pt::ptree& element, std::size_t item, ScriptRemark remark) const
{
    ++named_;
    remark.line = ScriptLoader::Line(element, item).value_or(0);
    remarks_.Report(remark);
}

}  // namespace zelkor
