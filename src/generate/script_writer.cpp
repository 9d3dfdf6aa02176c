#include "generate/script_writer.h"

#include <optional>
#include <string_view>
#include <utility>

#include "output/output_guard.h"
#include "script/script_text.h"
#include "script/script_vocabulary.h"

namespace zelkor {

namespace {

std::string FileLine(const GenerateCommand& command, const std::string& entry)
{
    const std::size_t skip = !entry.empty() && entry.front() == '/' ? 1 : 0;
    // Without a source directory the entry itself is the source path; a leading
    // "/" would turn it into a path from the file-system root.
    const std::string source =
        command.sourceDirectory.empty() ? entry.substr(skip) : command.sourceDirectory + entry;
    std::string line = "\t\t<";
    line += vocabulary::File;
    line += ' ';
    line += vocabulary::ArchivedPath;
    line += "=\"" + ScriptText::Attribute(command.archivePrefix + entry.substr(skip)) + "\"><![CDATA[" +
            ScriptText::Cdata(source) + "]]></";
    line += vocabulary::File;
    line += ">\r\n";
    return line;
}

}  // namespace

std::string ScriptWriter::Text(const GenerateCommand& command, const std::vector<std::string>& scanned)
{
    std::string text = "<";
    text += vocabulary::ScriptFile;
    text += ">\r\n\t<";
    text += vocabulary::CreateOrvanPack;
    text += ' ';
    text += vocabulary::ArchivePath;
    text += "=\"" + ScriptText::Attribute(command.archivePath) + "\" ";
    text += vocabulary::BuildKeyfile;
    text += std::string("=\"") + (command.buildKeyfile ? "true" : "false") + "\" ";
    if (command.buildKeyfile) {
        text += vocabulary::KeyPath;
        text += "=\"" + ScriptText::Attribute(command.keyPath) + "\" ";
    }
    if (command.keySeedPath) {
        text += vocabulary::KeySeedPath;
        text += "=\"" + ScriptText::Attribute(*command.keySeedPath) + "\" ";
    }
    const std::pair<std::string_view, const std::optional<std::string>*> asGiven[] = {
        {vocabulary::Store, &command.store},
        {vocabulary::Level, &command.level},
        {vocabulary::PatchOf, &command.patchOf},
        {vocabulary::VolumeSize, &command.volumeSize},
    };
    for (const auto& [name, value] : asGiven) {
        if (!*value)
            continue;
        text += name;
        text += "=\"" + ScriptText::Attribute(**value) + "\" ";
    }
    text += ">\r\n";

    for (const std::string& entry : scanned)
        text += FileLine(command, entry);
    for (const std::string& entry : command.addedPaths)
        text += FileLine(command, entry);

    text += "\t</";
    text += vocabulary::CreateOrvanPack;
    text += ">\r\n</";
    text += vocabulary::ScriptFile;
    text += ">";
    return text;
}

bool ScriptWriter::Write(const GenerateCommand& command, const std::vector<std::string>& scanned)
{
    if (command.outputPath.empty())
        return false;
    const std::string text = Text(command, scanned);
    OutputGuard output(command.outputPath);
    return output.Open() && output.Output().WriteAll(text.data(), text.size()) && output.Commit();
}

}  // namespace zelkor
