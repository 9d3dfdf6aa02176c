#include "script/script_processor.h"

#include <string>
#include <vector>

#include "archive/archive_writer.h"
#include "generate/script_writer.h"
#include "script/file_job.h"
#include "script/script_language.h"
#include "script/warning_log.h"

namespace zelkor {

using Element = boost::property_tree::ptree;

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

    for (const auto& [name, file] : command) {
        if (name != "File")
            continue;
        const std::string& source = ScriptLanguage::Text(file);
        if (!job_.Load(source)) {
            warnings_.Warn("Cannot compress " + source + "!");
            continue;
        }
        const std::string archivedPath = ScriptLanguage::RequiredAttribute(file, "ArchivedPath");
        if (!writer.AddFile(archivedPath, job_.rawSize, job_.storedSize, job_.contentHash,
                            job_.storedBytes.data()))
            warnings_.Warn("Cannot store " + source + "!");
    }
    writer.Close();
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
