#include "script/script_grammar.h"

#include <algorithm>
#include <iterator>

#include "script/script_vocabulary.h"

namespace zelkor::grammar {

namespace v = vocabulary;

namespace {

constexpr std::string_view RootChildren[] = {v::CreateOrvanPack, v::CreateOrvanPackXml};
constexpr std::string_view PackAttributes[] = {v::ArchivePath, v::BuildKeyfile, v::KeyPath, v::KeySeedPath,
                                               v::Store,       v::Level,   v::PatchOf, v::VolumeSize};
constexpr std::string_view PackChildren[] = {v::File};
constexpr std::string_view FileAttributes[] = {v::ArchivedPath};
constexpr std::string_view GenerateAttributes[] = {v::Input,      v::XmlPath, v::ArchivePath, v::BuildKeyfile,
                                                   v::KeyPath,    v::KeySeedPath, v::Store, v::Level,
                                                   v::PatchOf,    v::VolumeSize};
constexpr std::string_view GenerateChildren[] = {v::Ignore, v::Add, v::Patch};
constexpr std::string_view IgnoreAttributes[] = {v::Pattern};

const ElementRule Rules[] = {
    {v::ScriptFile, {}, RootChildren},
    {v::CreateOrvanPack, PackAttributes, PackChildren, Command::Pack},
    {v::File, FileAttributes, {}},
    {v::CreateOrvanPackXml, GenerateAttributes, GenerateChildren, Command::Generate},
    {v::Ignore, IgnoreAttributes, {}},
    {v::Add, {}, {}},
    {v::Patch, {}, {}, Command::None, true},
};

bool Holds(std::span<const std::string_view> names, std::string_view name)
{
    return std::find(names.begin(), names.end(), name) != names.end();
}

}  // namespace

const ElementRule& Root()
{
    return Rules[0];
}

const ElementRule* Child(const ElementRule& parent, std::string_view name)
{
    if (!Holds(parent.children, name))
        return nullptr;
    const auto* rule =
        std::find_if(std::begin(Rules), std::end(Rules), [&](const ElementRule& r) { return r.name == name; });
    return rule == std::end(Rules) ? nullptr : rule;
}

bool HasAttribute(const ElementRule& rule, std::string_view name)
{
    return Holds(rule.attributes, name);
}

Command CommandOf(std::string_view name)
{
    const ElementRule* rule = Child(Root(), name);
    return rule ? rule->command : Command::None;
}

}  // namespace zelkor::grammar
