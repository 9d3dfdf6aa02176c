#include "script/script_processor.h"

#include <string>
#include <vector>

#include "archive/archive_writer.h"
#include "generate/script_writer.h"
#include "script/file_job_pool.h"
#include "script/parallel_loader.h"
#include "script/script_language.h"
#include "script/warning_log.h"

namespace zelkor {

using Element = boost::property_tree::ptree;

namespace {

// Loaded files waiting for their turn may hold this much memory per job of the
// pool. While one thread compresses a large file, the others go on with the
// files after it, so the window has to hold what they produce meanwhile.
constexpr std::size_t WaitingBytesPerJob = 16 * 1024 * 1024;

}  // namespace

void ScriptProcessor::Run(const Element& tree)
{
    for (const auto& [name, command] : ScriptLanguage::Root(tree)) {
        if (name == "CreateOrvanPack")
            RunPackCommand(command);
        else if (name == "CreateOrvanPackXml")
            RunGenerateCommand(command);
    }
}

void ScriptProcessor::RunPackCommand(const Element& command)
{
    ArchiveWriter writer;
    const std::string archivePath = ScriptLanguage::RequiredAttribute(command, "ArchivePath");
    const std::string keyPath =
        ScriptLanguage::OptionalAttribute(command, "KeyPath").value_or(archivePath + ".zlk");
    const bool buildKeyfile = ScriptLanguage::BooleanAttribute(command, "BuildKeyfile");

    if (!writer.Create(archivePath, buildKeyfile ? &keyPath : nullptr)) {
        // Nothing of this command is read; the next command runs.
        warnings_.Warn("Cannot create " + writer.FailedPath() + "!");
        return;
    }

    AddFiles(command, writer);
    writer.Close();
}

void ScriptProcessor::AddFiles(const Element& command, ArchiveWriter& writer)
{
    ParallelLoader loader(jobs_, WaitingBytesPerJob * jobs_.Size());
    loader.Run(command, [&](const Element& file, ParallelLoader::Result& loaded) {
        const std::string& source = ScriptLanguage::Text(file);
        if (!loaded.loaded) {
            warnings_.Warn("Cannot compress " + source + "!");
            return;
        }
        const std::string archivedPath = ScriptLanguage::RequiredAttribute(file, "ArchivedPath");
        if (!writer.AddFile(archivedPath, loaded.rawSize, loaded.storedSize, loaded.contentHash,
                            loaded.storedBytes))
            warnings_.Warn("Cannot store " + source + "!");
    });
}

void ScriptProcessor::RunGenerateCommand(const Element& command)
{
    const std::string input = ScriptLanguage::RequiredAttribute(command, "Input");
    ScriptLanguage::InputParts parts = ScriptLanguage::SplitInput(input);

    std::vector<std::string> ignorePatterns;
    std::vector<std::string> addedPaths;
    ignorePatterns.reserve(command.size());
    addedPaths.reserve(command.size());
    for (const auto& [name, child] : command) {
        if (name == "Ignore")
            ignorePatterns.push_back(ScriptLanguage::RequiredAttribute(child, "Pattern"));
        else if (name == "Add")
            addedPaths.push_back(ScriptLanguage::Text(child));
    }

    // This order decides which missing attribute is reported when several are.
    const std::string keyPath = ScriptLanguage::OptionalAttribute(command, "KeyPath").value_or("");
    const bool buildKeyfile = ScriptLanguage::BooleanAttribute(command, "BuildKeyfile");
    const std::string archivePath = ScriptLanguage::RequiredAttribute(command, "ArchivePath");
    const std::string outputPath = ScriptLanguage::RequiredAttribute(command, "XmlPath");

    ScriptWriter::Result result =
        ScriptWriter::Generate(outputPath, parts.sourceDirectory, parts.archivePrefix, archivePath,
                               ignorePatterns, addedPaths, buildKeyfile, keyPath);
    for (const std::string& directory : result.unreadable)
        warnings_.Warn("Cannot scan " + directory + "!");
    if (!result.written)
        warnings_.Warn("Cannot write " + outputPath + "!");
}

}  // namespace zelkor
