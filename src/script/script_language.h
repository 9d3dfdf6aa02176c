#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include <boost/property_tree/ptree.hpp>

namespace zelkor::language {

// Reading the commands of a loaded script: attribute lookups with the language's
// defaults and failure texts, boolean values, element text, and the splitting of a
// generate command's Input. The names of elements and attributes are those of
// script_vocabulary.h.

using Element = boost::property_tree::ptree;

// The root element of a loaded script: its first top-level ScriptFile.
// Throws ptree_bad_path "No such node (ScriptFile)" when there is none.
const Element& Root(const Element& tree);

// A required attribute, exactly as written (references decoded, no trimming).
// Throws ptree_bad_path "No such node (<xmlattr>." + name + ")" when absent.
std::string RequiredAttribute(const Element& element, std::string_view name);

// The failure of a required attribute `name` that is absent, as
// RequiredAttribute throws it; for a lookup that was made earlier.
[[noreturn]] void ThrowMissingAttribute(std::string_view name);

// An optional attribute; present-but-empty is present.
std::optional<std::string> OptionalAttribute(const Element& element, std::string_view name);

// A boolean value: "true" or an integer equal to 1 is true, "false" or an
// integer equal to 0 is false, white space around the value allowed, words
// case-sensitive. Nothing for anything else, the empty value included.
std::optional<bool> Boolean(const std::string& value);

// A boolean attribute, read as Boolean does; absent or not a boolean reads as
// false (ScriptCheck names the latter).
bool BooleanAttribute(const Element& element, std::string_view name);

// A compression level: a decimal number from MinCompressionLevel to
// MaxCompressionLevel, white space around it allowed. Nothing for anything
// else, the empty value included.
std::optional<int> Level(const std::string& value);

// The Level attribute of a pack command, read as Level does; absent or not a
// level reads as CompressionLevel (ScriptCheck names the latter).
int LevelAttribute(const Element& element);
// A VolumeSize value: a size as ParseByteSize reads it ("2G", "500M",
// "700000000"), of 1 byte to MaxVolumeSize; nothing for anything else.
// MaxVolumeSize is the 4 GiB an archive can address less one entry header.
inline constexpr std::uint64_t MaxVolumeSize = (std::uint64_t{1} << 32) - 20;
std::optional<std::uint64_t> VolumeSize(const std::string& value);

// A VolumeSize attribute, read as VolumeSize does; absent or not a size reads
// as absent (ScriptCheck names the latter).
std::optional<std::uint64_t> VolumeSizeAttribute(const Element& element);

// The text of an element (File, Add): its character data and CDATA sections
// joined, untrimmed.
inline const std::string& Text(const Element& element) { return element.data(); }

// A path that the script hands to the file system (ArchivePath, KeyPath,
// KeySeedPath, a File's text, XmlPath): backslashes separate directories, as
// on the system that scripts come from, so they become slashes.
std::string FileSystemPath(std::string path);

// A generate command's Input, split at its first colon: the source directory
// before it, the archive prefix after it (further colons included). Without a
// colon the whole value is the source directory and the prefix is empty.
struct InputParts {
    std::string sourceDirectory;
    std::string archivePrefix;
};
InputParts SplitInput(const std::string& input);

}  // namespace zelkor::language
