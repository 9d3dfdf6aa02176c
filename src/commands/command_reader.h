#pragma once

// The two commands as a loaded script gives them, read with the language's
// defaults, in the order of lookups that decides which missing attribute is
// named when several are. A missing required attribute throws the property
// tree's "No such node (<xmlattr>.NAME)". Reading changes nothing on disk.

#include <cstdint>
#include <optional>
#include <vector>

#include <boost/property_tree/ptree.hpp>

#include "archive/archive_format.h"
#include "generate/generate_command.h"
#include "pack/pack_source.h"
#include "platform/named_path.h"

namespace zelkor {

// A CreateOrvanPack command.
struct PackCommand {
    NamedPath archive;
    std::optional<NamedPath> keyFile;  // with BuildKeyfile true: KeyPath, or the archive's + ".zlk"
    std::optional<NamedPath> keySeed;  // KeySeedPath, when given
    std::vector<PackSource> sources;   // the File children, in document order
    std::vector<std::string> storePatterns;  // of the Store attribute
    int level = CompressionLevel;            // of the Level attribute; the default when absent or bad
    std::optional<NamedPath> patchOf;  // PatchOf: the base this command writes a patch of
    std::optional<std::uint64_t> volumeSize;  // VolumeSize, when given as a size: the command writes a set
};

PackCommand ReadPackCommand(const boost::property_tree::ptree& command);

// The File children of a pack command, in document order. Their ArchivedPath is
// optional here: a pack command looks for it only once its source has loaded.
std::vector<PackSource> ReadPackSources(const boost::property_tree::ptree& command);

// The patterns of a Store attribute: `;`-separated, empty ones dropped.
std::vector<std::string> StorePatterns(const std::string& store);

// Whether one of `patterns` matches `archivedPath` as a whole, with the wildcard
// rules of Ignore patterns and names compared as the name hash compares them
// (ASCII letters regardless of case, "\" as "/").
bool MatchesStorePattern(const std::string& archivedPath, const std::vector<std::string>& patterns);

// A CreateOrvanPackXml command, normalised (GenerateCommand::Normalize).
GenerateCommand ReadGenerateCommand(const boost::property_tree::ptree& command);

}  // namespace zelkor
