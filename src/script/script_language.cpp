#include "script/script_language.h"

#include <algorithm>

#include "archive/archive_format.h"
#include "platform/byte_size.h"
#include "script/script_vocabulary.h"

namespace zelkor::language {

namespace pt = boost::property_tree;

namespace {

pt::ptree::path_type AttributePath(std::string_view name)
{
    std::string path(vocabulary::AttributesKey);
    path += '.';
    path += name;
    return pt::ptree::path_type(path);
}

}  // namespace

const Element& Root(const Element& tree)
{
    return tree.get_child(pt::ptree::path_type(std::string(vocabulary::ScriptFile)));
}

std::string RequiredAttribute(const Element& element, std::string_view name)
{
    return element.get<std::string>(AttributePath(name));
}

void ThrowMissingAttribute(std::string_view name)
{
    throw pt::ptree_bad_path("No such node", AttributePath(name));
}

std::optional<std::string> OptionalAttribute(const Element& element, std::string_view name)
{
    if (auto value = element.get_optional<std::string>(AttributePath(name)))
        return *value;
    return std::nullopt;
}

std::optional<int> Level(const std::string& value)
{
    const auto space = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    std::size_t begin = 0;
    std::size_t end = value.size();
    while (begin < end && space(value[begin]))
        ++begin;
    while (end > begin && space(value[end - 1]))
        --end;
    // Two digits at most: every level has one or two, and a longer run of
    // digits cannot overflow on its way to being refused.
    if (begin == end || end - begin > 2)
        return std::nullopt;
    int level = 0;
    for (std::size_t i = begin; i < end; ++i) {
        if (value[i] < '0' || value[i] > '9')
            return std::nullopt;
        level = level * 10 + (value[i] - '0');
    }
    if (level < MinCompressionLevel || level > MaxCompressionLevel)
        return std::nullopt;
    return level;
}

int LevelAttribute(const Element& element)
{
    const std::optional<std::string> value = OptionalAttribute(element, vocabulary::Level);
    return value ? Level(*value).value_or(CompressionLevel) : CompressionLevel;
}

std::optional<bool> Boolean(const std::string& value)
{
    // The property tree's translator reads an integer first and then the words
    // true/false, and insists that nothing but white space follows.
    if (const boost::optional<bool> read = pt::translator_between<std::string, bool>::type().get_value(value))
        return *read;
    return std::nullopt;
}

bool BooleanAttribute(const Element& element, std::string_view name)
{
    const std::optional<std::string> value = OptionalAttribute(element, name);
    return value && Boolean(*value).value_or(false);
}

std::optional<std::uint64_t> VolumeSize(const std::string& value)
{
    const std::optional<std::uint64_t> size = ParseByteSize(value);
    if (!size || *size == 0 || *size > MaxVolumeSize)
        return std::nullopt;
    return size;
}

std::optional<std::uint64_t> VolumeSizeAttribute(const Element& element)
{
    const std::optional<std::string> value = OptionalAttribute(element, vocabulary::VolumeSize);
    return value ? VolumeSize(*value) : std::nullopt;
}

std::string FileSystemPath(std::string path)
{
    std::replace(path.begin(), path.end(), '\\', '/');
    return path;
}

InputParts SplitInput(const std::string& input)
{
    const auto colon = input.find(':');
    if (colon == std::string::npos)
        return {input, std::string()};
    return {input.substr(0, colon), input.substr(colon + 1)};
}

}  // namespace zelkor::language
