#include "commands/script_processor.h"

#include <optional>
#include <string>
#include <vector>

#include "archive/archive_crypto.h"
#include "archive/archive_writer.h"
#include "commands/command_reader.h"
#include "generate/directory_scanner.h"
#include "generate/generate_command.h"
#include "generate/script_writer.h"
#include "pack/file_job_pool.h"
#include "pack/parallel_loader.h"
#include "platform/messages.h"
#include "platform/progress_line.h"
#include "platform/warning_log.h"
#include "script/script_check.h"
#include "script/script_grammar.h"
#include "script/script_language.h"
#include "script/script_vocabulary.h"
#include "script/wildcard_matcher.h"

namespace zelkor {

using Element = boost::property_tree::ptree;

void ScriptProcessor::Run(const Element& tree, const std::string& scriptName)
{
    const Element& root = language::Root(tree);
    const ScriptCheck check(scriptName, warnings_);
    check.Root(root);
    for (const auto& [name, command] : root) {
        check.Child(name, command);
        switch (grammar::CommandOf(name)) {
        case grammar::Command::Pack:
            RunPack(ReadPackCommand(command));
            break;
        case grammar::Command::Generate:
            RunGenerate(ReadGenerateCommand(command));
            break;
        case grammar::Command::None:
            break;
        }
    }
}

void ScriptProcessor::RunPack(const PackCommand& pack)
{
    // With a key seed the same inputs give the same bytes. A seed that cannot be
    // read skips the command before anything is created.
    std::optional<KeyMaterial> material;
    if (pack.keySeed) {
        material = KeyMaterial::FromSeedFile(pack.keySeed->path);
        if (!material) {
            warnings_.Warn(message::CannotReadKeySeed(pack.keySeed->shown));
            return;
        }
    }
    ArchiveWriter writer;
    const NamedPath* keyFile = pack.keyFile ? &*pack.keyFile : nullptr;
    const bool created =
        material ? writer.Create(pack.archive, keyFile, *material) : writer.Create(pack.archive, keyFile);
    if (!created) {
        // Nothing of this command is read; the next command runs.
        warnings_.Warn(message::CannotCreate(writer.FailedPath()));
        return;
    }
    AddFiles(pack, writer);
    writer.Close();
}

void ScriptProcessor::AddFiles(const PackCommand& pack, ArchiveWriter& writer)
{
    ParallelLoader loader(jobs_);
    // The archive and key file being written, and those they replace, are never
    // read as sources: what would be stored would depend on how far the writing
    // had come.
    const std::vector<FileStatus> outputs = writer.Outputs();
    // Files are encrypted where they are loaded, so that only writing waits for
    // its turn.
    const FileJob::Options options{.excluded = outputs, .key = &writer.Key()};
    loader.Run(pack.sources, options, [&](const PackSource& source, std::optional<LoadedFile>& loaded) {
        if (progress_)
            progress_->Advance(1, loaded ? loaded->rawSize : 0);
        if (!loaded) {
            warnings_.Warn(message::CannotCompress(source.written));
            return;
        }
        if (!source.archivedPath)
            language::ThrowMissingAttribute(vocabulary::ArchivedPath);
        if (!writer.AddFile(*source.archivedPath, *loaded))
            warnings_.Warn(message::CannotStore(source.written));
    });
}

void ScriptProcessor::RunGenerate(const GenerateCommand& generate)
{
    DirectoryScanner::Result scan = DirectoryScanner::Scan(generate.sourceDirectory);
    ApplyIgnorePatterns(scan.paths, generate.ignorePatterns);
    const bool written = ScriptWriter::Write(generate, scan.paths);

    for (const std::string& directory : scan.unreadable)
        warnings_.Warn(message::CannotScan(directory));
    if (!written)
        warnings_.Warn(message::CannotWrite(generate.outputShown));
}

}  // namespace zelkor
