#pragma once

// The words of the script language, spelled once: the reader of scripts, the
// processor and the generator of scripts all take them from here.

#include <string_view>

namespace zelkor::vocabulary {

// Elements.
inline constexpr std::string_view ScriptFile = "ScriptFile";
inline constexpr std::string_view CreateOrvanPack = "CreateOrvanPack";
inline constexpr std::string_view CreateOrvanPackXml = "CreateOrvanPackXml";
inline constexpr std::string_view File = "File";
inline constexpr std::string_view Ignore = "Ignore";
inline constexpr std::string_view Add = "Add";
inline constexpr std::string_view Patch = "Patch";

// Attributes.
inline constexpr std::string_view ArchivePath = "ArchivePath";
inline constexpr std::string_view KeyPath = "KeyPath";
inline constexpr std::string_view BuildKeyfile = "BuildKeyfile";
inline constexpr std::string_view KeySeedPath = "KeySeedPath";
inline constexpr std::string_view ArchivedPath = "ArchivedPath";
inline constexpr std::string_view Input = "Input";
inline constexpr std::string_view XmlPath = "XmlPath";
inline constexpr std::string_view Pattern = "Pattern";
inline constexpr std::string_view Store = "Store";
inline constexpr std::string_view Level = "Level";
inline constexpr std::string_view PatchOf = "PatchOf";
inline constexpr std::string_view VolumeSize = "VolumeSize";

// What separates the patterns of a Store attribute.
inline constexpr char StoreSeparator = ';';

// What a pack command's archive path is followed by to name its default key file.
inline constexpr std::string_view DefaultKeySuffix = ".zlk";

// Keys of the loaded tree that are not elements: the attributes of an element
// sit below the first, comments are children keyed by the second. Where an
// element stands in its script (the line of its name, then the line of each
// attribute in order, in decimal, separated by spaces) is the value of its
// attributes' node, or of a child keyed by the third when it has no attributes.
inline constexpr std::string_view AttributesKey = "<xmlattr>";
inline constexpr std::string_view CommentKey = "<xmlcomment>";
inline constexpr std::string_view LinesKey = "<xmllines>";

}  // namespace zelkor::vocabulary
