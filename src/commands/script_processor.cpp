#include "commands/script_processor.h"

#include <optional>
#include <string>
#include <vector>

#include "archive/archive_crypto.h"
#include "archive/archive_write_error.h"
#include "archive/archive_writer.h"
#include "generate/directory_scanner.h"
#include "generate/generate_command.h"
#include "generate/script_writer.h"
#include "script/wildcard_matcher.h"
#include "platform/progress_line.h"
#include "pack/file_job_pool.h"
#include "pack/pack_source.h"
#include "pack/parallel_loader.h"
#include "script/script_check.h"
#include "script/script_language.h"
#include "script/script_vocabulary.h"
#include "platform/warning_log.h"

namespace zelkor {

using Element = boost::property_tree::ptree;

std::vector<PackSource> ScriptProcessor::PackSources(const Element& command)
{
    std::vector<PackSource> sources;
    for (const auto& [name, child] : command) {
        if (name == vocabulary::File)
            sources.push_back({ScriptLanguage::FileSystemPath(ScriptLanguage::Text(child)),
                               ScriptLanguage::OptionalAttribute(child, vocabulary::ArchivedPath),
                               ScriptLanguage::Text(child)});
    }
    return sources;
}

void ScriptProcessor::Run(const Element& tree, const std::string& scriptName)
{
    const Element& root = ScriptLanguage::Root(tree);
    const ScriptCheck check(scriptName, warnings_);
    check.Root(root);
    for (const auto& [name, command] : root) {
        check.Child(name, command);
        if (name == vocabulary::CreateOrvanPack)
            RunPackCommand(command);
        else if (name == vocabulary::CreateOrvanPackXml)
            RunGenerateCommand(command);
    }
}

void ScriptProcessor::RunPackCommand(const Element& command)
{
    ArchiveWriter writer;
    const std::string archivePath = ScriptLanguage::RequiredAttribute(command, vocabulary::ArchivePath);
    // An empty KeyPath names no file that could be created; it means the default,
    // as a generated script without a KeyPath writes it.
    std::string keyPath = ScriptLanguage::OptionalAttribute(command, vocabulary::KeyPath).value_or("");
    if (keyPath.empty())
        keyPath = archivePath + std::string(vocabulary::DefaultKeySuffix);
    const bool buildKeyfile = ScriptLanguage::BooleanAttribute(command, vocabulary::BuildKeyfile);

    // Messages name the files as the script wrote them.
    const std::string archiveFile = ScriptLanguage::FileSystemPath(archivePath);
    const std::string keyFile = ScriptLanguage::FileSystemPath(keyPath);
    auto written = [&](const std::string& file) {
        return file == archiveFile ? archivePath : file == keyFile ? keyPath : file;
    };

    // With a key seed the same inputs give the same bytes. A seed that cannot be
    // read skips the command before anything is created.
    std::optional<KeyMaterial> material;
    if (const auto seedPath = ScriptLanguage::OptionalAttribute(command, vocabulary::KeySeedPath)) {
        material = KeyMaterial::FromSeedFile(ScriptLanguage::FileSystemPath(*seedPath));
        if (!material) {
            warnings_.Warn("Cannot read key seed " + *seedPath + "!");
            return;
        }
    }

    try {
        const std::string* keyFileToCreate = buildKeyfile ? &keyFile : nullptr;
        const bool created = material ? writer.Create(archiveFile, keyFileToCreate, *material)
                                      : writer.Create(archiveFile, keyFileToCreate);
        if (!created) {
            // Nothing of this command is read; the next command runs.
            warnings_.Warn("Cannot create " + written(writer.FailedPath()) + "!");
            return;
        }
        AddFiles(PackSources(command), writer);
        writer.Close();
    } catch (const ArchiveWriteError& failure) {
        throw ArchiveWriteError(written(failure.Path()));
    }
}

void ScriptProcessor::AddFiles(const std::vector<PackSource>& sources, ArchiveWriter& writer)
{
    ParallelLoader loader(jobs_);
    // The archive and key file being written, and those they replace, are never
    // read as sources: what would be stored would depend on how far the writing
    // had come.
    const std::vector<FileStatus> outputs = writer.Outputs();
    // Files are encrypted where they are loaded, so that only writing waits for
    // its turn.
    const FileJob::Options options{.excluded = outputs, .key = &writer.Key()};
    loader.Run(sources, options, [&](const PackSource& source, std::optional<LoadedFile>& loaded) {
        if (progress_)
            progress_->Advance(1, loaded ? loaded->rawSize : 0);
        if (!loaded) {
            warnings_.Warn("Cannot compress " + source.written + "!");
            return;
        }
        if (!source.archivedPath)
            ScriptLanguage::ThrowMissingAttribute(vocabulary::ArchivedPath);
        if (!writer.AddFile(*source.archivedPath, *loaded))
            warnings_.Warn("Cannot store " + source.written + "!");
    });
}

void ScriptProcessor::RunGenerateCommand(const Element& command)
{
    GenerateCommand generate;
    const std::string input = ScriptLanguage::RequiredAttribute(command, vocabulary::Input);
    ScriptLanguage::InputParts parts = ScriptLanguage::SplitInput(input);
    generate.sourceDirectory = std::move(parts.sourceDirectory);
    generate.archivePrefix = std::move(parts.archivePrefix);

    generate.ignorePatterns.reserve(command.size());
    generate.addedPaths.reserve(command.size());
    for (const auto& [name, child] : command) {
        if (name == vocabulary::Ignore)
            generate.ignorePatterns.push_back(ScriptLanguage::RequiredAttribute(child, vocabulary::Pattern));
        else if (name == vocabulary::Add)
            generate.addedPaths.push_back(ScriptLanguage::Text(child));
    }

    // This order decides which missing attribute is reported when several are.
    generate.keyPath = ScriptLanguage::OptionalAttribute(command, vocabulary::KeyPath).value_or("");
    generate.buildKeyfile = ScriptLanguage::BooleanAttribute(command, vocabulary::BuildKeyfile);
    generate.keySeedPath = ScriptLanguage::OptionalAttribute(command, vocabulary::KeySeedPath);
    generate.archivePath = ScriptLanguage::RequiredAttribute(command, vocabulary::ArchivePath);
    const std::string xmlPath = ScriptLanguage::RequiredAttribute(command, vocabulary::XmlPath);
    generate.outputPath = ScriptLanguage::FileSystemPath(xmlPath);
    generate.Normalize();

    DirectoryScanner::Result scan = DirectoryScanner::Scan(generate.sourceDirectory);
    ApplyIgnorePatterns(scan.paths, generate.ignorePatterns);
    const bool written = ScriptWriter::Write(generate, scan.paths);

    for (const std::string& directory : scan.unreadable)
        warnings_.Warn("Cannot scan " + directory + "!");
    if (!written)
        warnings_.Warn("Cannot write " + xmlPath + "!");
}

}  // namespace zelkor
