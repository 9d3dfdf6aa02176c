#include "commands/command_reader.h"

#include <algorithm>

#include "archive/archive_format.h"

#include "script/script_language.h"
#include "script/script_loader.h"
#include "script/script_vocabulary.h"
#include "script/wildcard_matcher.h"

namespace zelkor {

using Element = boost::property_tree::ptree;
namespace v = vocabulary;

namespace {

NamedPath Shown(std::string written)
{
    return NamedPath(language::FileSystemPath(written), written);
}

}  // namespace

std::vector<PackSource> ReadPackSources(const Element& command)
{
    std::vector<PackSource> sources;
    for (const auto& [name, child] : command) {
        if (name == v::File)
            sources.push_back({language::FileSystemPath(language::Text(child)),
                               language::OptionalAttribute(child, v::ArchivedPath), language::Text(child),
                               ScriptLoader::Line(child, 0).value_or(0)});
    }
    return sources;
}

PackCommand ReadPackCommand(const Element& command)
{
    PackCommand pack;
    const std::string archivePath = language::RequiredAttribute(command, v::ArchivePath);
    pack.archive = Shown(archivePath);
    // An empty KeyPath names no file that could be created; it means the default,
    // as a generated script without a KeyPath writes it.
    std::string keyPath = language::OptionalAttribute(command, v::KeyPath).value_or("");
    if (keyPath.empty())
        keyPath = archivePath + std::string(v::DefaultKeySuffix);
    if (language::BooleanAttribute(command, v::BuildKeyfile))
        pack.keyFile = Shown(keyPath);
    if (const std::optional<std::string> seed = language::OptionalAttribute(command, v::KeySeedPath))
        pack.keySeed = Shown(*seed);
    pack.level = language::LevelAttribute(command);
    if (const std::optional<std::string> base = language::OptionalAttribute(command, v::PatchOf))
        pack.patchOf = Shown(*base);
    pack.volumeSize = language::VolumeSizeAttribute(command);
    pack.sources = ReadPackSources(command);
    if (const std::optional<std::string> store = language::OptionalAttribute(command, v::Store)) {
        pack.storePatterns = StorePatterns(*store);
        for (PackSource& source : pack.sources)
            source.storeRaw = source.archivedPath && MatchesStorePattern(*source.archivedPath, pack.storePatterns);
    }
    return pack;
}

std::vector<std::string> StorePatterns(const std::string& store)
{
    std::vector<std::string> patterns;
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = store.find(v::StoreSeparator, start);
        std::string pattern = store.substr(start, end == std::string::npos ? std::string::npos : end - start);
        if (!pattern.empty())
            patterns.push_back(NormalizeName(pattern));
        if (end == std::string::npos)
            return patterns;
        start = end + 1;
    }
}

bool MatchesStorePattern(const std::string& archivedPath, const std::vector<std::string>& patterns)
{
    if (patterns.empty())
        return false;
    const std::string name = NormalizeName(archivedPath);
    return std::any_of(patterns.begin(), patterns.end(),
                       [&](const std::string& pattern) { return MatchWildcard(name, pattern); });
}

GenerateCommand ReadGenerateCommand(const Element& command)
{
    GenerateCommand generate;
    const std::string input = language::RequiredAttribute(command, v::Input);
    language::InputParts parts = language::SplitInput(input);
    generate.sourceDirectory = std::move(parts.sourceDirectory);
    generate.archivePrefix = std::move(parts.archivePrefix);

    generate.ignorePatterns.reserve(command.size());
    generate.addedPaths.reserve(command.size());
    for (const auto& [name, child] : command) {
        if (name == v::Ignore) {
            generate.ignorePatterns.push_back(language::RequiredAttribute(child, v::Pattern));
            generate.ignoreLines.push_back(ScriptLoader::Line(child, 0).value_or(0));
        }
        else if (name == v::Add)
            generate.addedPaths.push_back(language::Text(child));
    }

    generate.keyPath = language::OptionalAttribute(command, v::KeyPath).value_or("");
    generate.buildKeyfile = language::BooleanAttribute(command, v::BuildKeyfile);
    generate.keySeedPath = language::OptionalAttribute(command, v::KeySeedPath);
    generate.store = language::OptionalAttribute(command, v::Store);
    generate.level = language::OptionalAttribute(command, v::Level);
    generate.patchOf = language::OptionalAttribute(command, v::PatchOf);
    generate.volumeSize = language::OptionalAttribute(command, v::VolumeSize);
    generate.archivePath = language::RequiredAttribute(command, v::ArchivePath);
    const std::string xmlPath = language::RequiredAttribute(command, v::XmlPath);
    generate.outputPath = language::FileSystemPath(xmlPath);
    generate.outputShown = xmlPath;
    generate.Normalize();
    return generate;
}

}  // namespace zelkor
