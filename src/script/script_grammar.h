#pragma once

// The language's elements, the attributes each may carry and the children each
// may hold, described once: the check of a script, the processor's dispatch and
// the status line's count of files all read this.

#include <span>
#include <string_view>

namespace zelkor::grammar {

// What a child of ScriptFile asks the processor to do.
enum class Command { None, Pack, Generate };

struct ElementRule {
    std::string_view name;
    std::span<const std::string_view> attributes;
    std::span<const std::string_view> children;
    Command command = Command::None;
    bool holdsAnything = false;  // any attributes and content, unchecked (Patch)
};

// The rule of ScriptFile itself.
const ElementRule& Root();

// The rule of the child `name` of an element that `parent` describes, or null
// when the language has no such child there.
const ElementRule* Child(const ElementRule& parent, std::string_view name);

bool HasAttribute(const ElementRule& rule, std::string_view name);

// What the child `name` of ScriptFile is for; None for anything but a command.
Command CommandOf(std::string_view name);

// Keys of a loaded tree that are not elements (attributes, comments, lines)
// start with '<', which no element name can.
inline bool IsElement(std::string_view key)
{
    return !key.empty() && key.front() != '<';
}

}  // namespace zelkor::grammar
