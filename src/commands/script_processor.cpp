#include "commands/script_processor.h"

#include <cstdlib>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "archive/archive_crypto.h"
#include "archive/archive_format.h"
#include "archive/archive_writer.h"
#include "archive/deletion_list.h"
#include "archive/name_clashes.h"
#include "commands/command_reader.h"
#include "commands/command_warnings.h"
#include "commands/patch_base.h"
#include "commands/unchanged_build.h"
#include "commands/volume_set_writer.h"
#include "generate/directory_scanner.h"
#include "generate/generate_command.h"
#include "generate/script_writer.h"
#include "pack/file_job_pool.h"
#include "pack/parallel_loader.h"
#include "pack/previous_build.h"
#include "platform/environment.h"
#include "runtime/messages.h"
#include "runtime/script_warnings.h"
#include "runtime/progress_line.h"
#include "runtime/warning_log.h"
#include "script/script_check.h"
#include "script/script_grammar.h"
#include "script/script_language.h"
#include "script/script_vocabulary.h"
#include "script/wildcard_matcher.h"

namespace zelkor {

using Element = boost::property_tree::ptree;

namespace {

// Adds a loaded source. A source streamed as it is written that changed since
// it was measured is measured once more and written again; one that changes
// again is left out. What is written then is no longer what its status was
// found settled for.
VolumeSetWriter::Added AddOnce(VolumeSetWriter& writer, const std::string& archivedPath, LoadedFile& loaded)
{
    const VolumeSetWriter::Added result = writer.AddFile(archivedPath, loaded);
    if (result != VolumeSetWriter::Added::Changed)
        return result;
    loaded.settled.reset();
    return loaded.stream->Measure(loaded.rawSize, loaded.contentHash) ? writer.AddFile(archivedPath, loaded)
                                                                       : VolumeSetWriter::Added::Changed;
}

// A volume of a set could not be created while the command packed: the set is
// given up as a command that cannot create its archive is.
struct VolumeNotCreated {};

}  // namespace

bool ScriptProcessor::StrictFromEnvironment()
{
    const std::optional<std::string> value = EnvironmentVariable("ZELKOR_STRICT");
    return value && !value->empty() && *value != "0";
}

void ScriptProcessor::Run(const Element& tree, const std::string& scriptName)
{
    scriptName_ = &scriptName;
    const Element& root = language::Root(tree);
    ScriptWarnings remarks(scriptName, warnings_);
    const ScriptCheck check(remarks);
    check.Root(root);
    for (const auto& [name, command] : root) {
        const bool named = check.Child(name, command);
        switch (grammar::CommandOf(name)) {
        case grammar::Command::Pack:
            RunPack(ReadPackCommand(command), named);
            break;
        case grammar::Command::Generate:
            RunGenerate(ReadGenerateCommand(command));
            break;
        case grammar::Command::None:
            break;
        }
    }
}

void ScriptProcessor::PackWarning(const PackCommand& pack, const std::string& line, bool notWritten)
{
    if (notWritten)
        warnings_.NotWritten(line);
    else
        warnings_.Warn(line);
    if (options_.strict)
        throw std::runtime_error(message::StrictNotWritten(pack.archive.shown));
}

void ScriptProcessor::RunPack(const PackCommand& pack, bool named)
{
    std::optional<KeyMaterial> material;
    std::unique_ptr<PatchBase> base;
    if (!ReadInputs(pack, named, material, base))
        return;
    VolumeSetWriter writer;
    if (base)
        writer.AddCompanion(
            NamedPath(DeletionList::PathFor(pack.archive.path), DeletionList::PathFor(pack.archive.shown)));
    const NamedPath* keyFile = pack.keyFile ? &*pack.keyFile : nullptr;
    if (!writer.Create(pack.archive, keyFile, material ? &*material : nullptr, pack.volumeSize)) {
        // Nothing of this command is read; the next command runs.
        PackWarning(pack, message::CannotCreate(writer.FailedPath()), true);
        return;
    }
    // Nothing changed since the last build: its files are what this one would
    // write, byte for byte. The writer was created all the same, so that every
    // reason not to write the files holds as it does for a build. A patch's
    // inputs include its base, which the build records do not.
    std::optional<UnchangedBuild> unchanged;
    if (material && !named && options_.cache && !base)
        unchanged.emplace(pack, *material, *options_.cache);
    std::uint64_t bytes = 0;
    if (unchanged && unchanged->Matches(writer, bytes)) {
        writer.Abandon();
        if (options_.progress)
            options_.progress->Advance(pack.sources.size(), bytes);
        return;
    }
    // Otherwise the entries of unchanged sources are copied from it, and what
    // this build writes is recorded for the next.
    std::unique_ptr<PreviousBuild> previous;
    if (unchanged) {
        previous = unchanged->Previous();
        writer.KeepEntries();
    }
    Added added(pack.sources.size());
    bool quiet = false;
    try {
        quiet = AddFiles(pack, writer, base.get(), previous.get(), added);
    } catch (const VolumeNotCreated&) {
        // Nothing of the set is written; the next command runs.
        writer.Abandon();
        PackWarning(pack, message::CannotCreate(writer.FailedPath()), true);
        return;
    }
    // Closed before the new archive is renamed over it, as Windows asks.
    previous.reset();
    // A command that lists files and could store none of them (run from the
    // wrong directory, say) does not replace the last good build with an empty
    // archive. A patch whose files all match its base stores none, and says so.
    if (added.stored.empty() && added.matched == 0 && !pack.sources.empty()) {
        writer.Abandon();
        warnings_.NotWritten(message::NoneStored(pack.archive.shown, pack.sources.size()));
        return;
    }
    Seal(pack, writer, base.get(), unchanged, added, quiet);
}

bool ScriptProcessor::ReadInputs(const PackCommand& pack, bool named, std::optional<KeyMaterial>& material,
                                 std::unique_ptr<PatchBase>& base)
{
    if (named && options_.strict)
        throw std::runtime_error(message::StrictNotWritten(pack.archive.shown));
    // With a key seed the same inputs give the same bytes. A seed that cannot be
    // read skips the command before anything is created.
    if (pack.keySeed) {
        material = KeyMaterial::FromSeedFile(pack.keySeed->path);
        if (!material) {
            PackWarning(pack, message::CannotReadKeySeed(pack.keySeed->shown), true);
            return false;
        }
    }
    // A patch's base is read before anything is created, and so is skipped
    // whole when it cannot be.
    if (pack.patchOf) {
        std::string failure;
        base = PatchBase::Open(*pack.patchOf, failure);
        if (!base) {
            PackWarning(pack, failure, true);
            return false;
        }
    }
    return true;
}

void ScriptProcessor::Seal(const PackCommand& pack, VolumeSetWriter& writer, const PatchBase* base,
                           std::optional<UnchangedBuild>& unchanged, const Added& added, bool quiet)
{
    std::uint64_t deleted = 0;
    if (base) {
        DeletionList list;
        list.patch = writer.Identity();
        list.base = base->Identity();
        list.names = base->Deleted();
        deleted = list.names.size();
        writer.CompanionBytes(list.Encode());
    }
    writer.Close();
    if (unchanged)
        unchanged->Record(writer, added.reads, added.stored, quiet);
    if (base && options_.notes)
        options_.notes->Warn(message::PatchWritten(pack.archive.shown, pack.patchOf->shown, writer.Identity().entries, deleted));
}

bool ScriptProcessor::AddFiles(const PackCommand& pack, VolumeSetWriter& writer, PatchBase* base,
                               const PreviousBuild* previous, Added& added)
{
    ParallelLoader loader(jobs_);
    // The archive and key file being written, and those they replace, are never
    // read as sources: what would be stored would depend on how far the writing
    // had come.
    const std::vector<FileStatus> outputs = writer.Outputs();
    // Files are encrypted where they are loaded, so that only writing waits for
    // its turn.
    const FileJob::Options options{
        .excluded = outputs, .key = &writer.Key(), .level = pack.level, .previous = previous};
    // Entries a reader would not tell apart are named as the later one is stored.
    NameClashes clashes(ArchivedNames(pack));
    bool quiet = true;
    const auto warn = [&](const std::string& line) {
        quiet = false;
        PackWarning(pack, line);
    };
    // Said once, after the first entry it would have stored.
    bool splitNamed = false;
    loader.Run(pack.sources, options, [&](const PackSource& source, std::optional<LoadedFile>& loaded) {
        if (options_.progress)
            options_.progress->Advance(1, loaded ? loaded->rawSize : 0);
        if (!loaded) {
            warn(message::CannotCompress(source.written));
            return;
        }
        if (!source.archivedPath)
            language::ThrowMissingAttribute(vocabulary::ArchivedPath);
        if (base && base->Judge(*source.archivedPath, loaded->rawSize, loaded->contentHash) == PatchBase::Verdict::Skip) {
            ++added.matched;
            return;
        }
        switch (AddOnce(writer, *source.archivedPath, *loaded)) {
        case VolumeSetWriter::Added::Stored:
            break;
        case VolumeSetWriter::Added::Changed:
            warn(message::CannotCompress(source.written));
            return;
        case VolumeSetWriter::Added::NotStored:
            quiet = false;
            CannotStore(pack, source, writer, splitNamed);
            return;
        case VolumeSetWriter::Added::CannotCreate:
            throw VolumeNotCreated();
        }
        if (base)
            base->Stored(*source.archivedPath);
        const auto i = static_cast<std::size_t>(&source - pack.sources.data());
        added.reads[i] = loaded->settled;
        added.stored.push_back(i);
        if (const auto clash = clashes.Stored(i))
            warn(ClashWarning(*scriptName_, pack, i, *clash));
    });
    return quiet;
}

void ScriptProcessor::CannotStore(const PackCommand& pack, const PackSource& source, const VolumeSetWriter& writer,
                                  bool& splitNamed)
{
    warnings_.Warn(message::CannotStore(source.written));
    if (!splitNamed && (writer.Full() || writer.SetFull())) {
        splitNamed = true;
        warnings_.Warn(writer.Full() ? message::SplitIntoVolumes(pack.archive.shown)
                                     : message::SetHasEveryVolume(pack.archive.shown, writer.VolumeCount()));
    }
    if (options_.strict)
        throw std::runtime_error(message::StrictNotWritten(pack.archive.shown));
}

void ScriptProcessor::RunGenerate(const GenerateCommand& generate)
{
    DirectoryScanner::Result scan = DirectoryScanner::Scan(generate.sourceDirectory);
    const std::vector<bool> used = ApplyIgnorePatterns(scan.paths, generate.ignorePatterns);
    const bool written = ScriptWriter::Write(generate, scan.paths);

    for (const std::string& line : ScanWarnings(*scriptName_, generate, scan, used))
        warnings_.Warn(line);
    if (!written)
        warnings_.NotWritten(message::CannotWrite(generate.outputShown));
}

}  // namespace zelkor
