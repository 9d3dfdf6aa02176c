#include "commands/script_dry_run.h"

#include <exception>
#include <optional>
#include <stdexcept>
#include <utility>

#include <boost/property_tree/ptree.hpp>

#include "archive/archive_crypto.h"
#include "archive/archive_format.h"
#include "archive/content_hasher.h"
#include "archive/deletion_list.h"
#include "archive/name_clashes.h"
#include "archive/set_manifest.h"
#include "commands/command_reader.h"
#include "commands/command_warnings.h"
#include "commands/patch_base.h"
#include "generate/directory_scanner.h"
#include "platform/file.h"
#include "platform/file_system.h"
#include "runtime/exit_status.h"
#include "runtime/messages.h"
#include "runtime/script_warnings.h"
#include "runtime/warning_log.h"
#include "script/script_check.h"
#include "script/script_grammar.h"
#include "script/script_language.h"
#include "script/script_loader.h"
#include "script/script_vocabulary.h"
#include "script/wildcard_matcher.h"

namespace zelkor {

namespace {

using Element = boost::property_tree::ptree;

// Whether an output at `path` could be created and put in place, judged from
// what is there now: an existing file must be a regular file this process may
// write; a missing one needs a directory it may create names in.
bool CouldCreate(const std::string& path)
{
    if (path.empty() || path.find('\0') != std::string::npos)
        return false;
    if (const std::optional<FileStatus> status = StatusOf(path))
        return status->IsRegular() && MayWrite(path);
    const std::size_t slash = path.rfind('/');
    const std::string directory = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    const std::optional<FileStatus> parent = StatusOf(directory);
    return !name.empty() && name != "." && name != ".." && name.size() <= MaxEntryNameLength && parent &&
           parent->IsDirectory() && MayWrite(directory);
}

// The content hash of the rest of `file` and the bytes it read; nothing when a
// read fails.
std::optional<std::pair<std::uint32_t, std::uint64_t>> HashContent(File& file)
{
    ContentHasher hasher;
    std::vector<std::uint8_t> piece(1 << 20);
    std::uint64_t total = 0;
    for (;;) {
        const std::optional<std::size_t> got = file.ReadUpTo(piece.data(), piece.size());
        if (!got)
            return std::nullopt;
        if (*got == 0)
            return std::pair(hasher.Digest(), total);
        hasher.Update(std::span(piece.data(), *got));
        total += *got;
    }
}

class Checker {
public:
    Checker(WarningLog& warnings, bool strict) : warnings_(warnings), strict_(strict) {}

    void Script(const Element& tree, const std::string& name, std::vector<ScriptDryRun::Command>& commands)
    {
        script_ = &name;
        const Element& root = language::Root(tree);
        ScriptWarnings remarks(name, warnings_);
        const ScriptCheck check(remarks);
        check.Root(root);
        for (const auto& [key, command] : root) {
            const bool named = check.Child(key, command);
            const grammar::Command kind = grammar::CommandOf(key);
            if (kind == grammar::Command::None)
                continue;
            ScriptDryRun::Command summary;
            summary.script = name;
            summary.line = ScriptLoader::Line(command, 0).value_or(0);
            summary.pack = kind == grammar::Command::Pack;
            if (summary.pack)
                Pack(ReadPackCommand(command), named, summary);
            else
                Generate(ReadGenerateCommand(command), summary);
            commands.push_back(std::move(summary));
        }
    }

private:
    void Warn(const PackCommand& pack, const std::string& line, bool notWritten = false)
    {
        if (notWritten)
            warnings_.NotWritten(line);
        else
            warnings_.Warn(line);
        if (strict_)
            throw std::runtime_error(message::StrictNotWritten(pack.archive.shown));
    }

    void Pack(const PackCommand& pack, bool named, ScriptDryRun::Command& summary)
    {
        summary.output = pack.archive.shown;
        if (named && strict_)
            throw std::runtime_error(message::StrictNotWritten(pack.archive.shown));
        if (pack.keySeed && !KeyMaterial::FromSeedFile(pack.keySeed->path))
            return Warn(pack, message::CannotReadKeySeed(pack.keySeed->shown), true);
        std::unique_ptr<PatchBase> base;
        std::optional<NamedPath> deletions;
        if (pack.patchOf) {
            std::string failure;
            if (!(base = PatchBase::Open(*pack.patchOf, failure)))
                return Warn(pack, failure, true);
            deletions.emplace(DeletionList::PathFor(pack.archive.path), DeletionList::PathFor(pack.archive.shown));
        }
        // The key file is created first, as a run does, then a patch's deletion
        // list, the archive, and a set's manifest.
        const NamedPath manifest(SetManifest::PathFor(pack.archive.path),
                                 pack.archive.shown + std::string(SetManifest::Suffix));
        for (const NamedPath* output :
             {pack.keyFile ? &*pack.keyFile : nullptr, deletions ? &std::as_const(*deletions) : nullptr, &pack.archive,
              pack.volumeSize ? &manifest : nullptr}) {
            if (output && !CouldCreate(output->path))
                return Warn(pack, message::CannotCreate(output->shown), true);
        }
        const std::vector<FileStatus> outputs = OutputsOf(pack, manifest);
        // The volumes, filled as a run fills them with entries of the sources' sizes.
        std::uint64_t volumeUsed = 0;
        summary.volumesExact = pack.volumeSize.has_value();

        NameClashes clashes(ArchivedNames(pack));
        for (std::size_t i = 0; i < pack.sources.size(); ++i)
            Source(pack, i, outputs, base.get(), clashes, volumeUsed, summary);
        // A set without an entry still has its first volume.
        if (pack.volumeSize && summary.volumes == 0)
            summary.volumes = 1;
        if (summary.files == 0 && !pack.sources.empty())
            warnings_.NotWritten(message::NoneStored(pack.archive.shown, pack.sources.size()));
        if (base) {
            summary.patchOf = pack.patchOf->shown;
            summary.patchDeletions = base->Deleted().size();
        }
    }

    // The files a pack command writes, as they are now: they are never read as
    // sources, a set's volumes and manifest included.
    static std::vector<FileStatus> OutputsOf(const PackCommand& pack, const NamedPath& manifest)
    {
        std::vector<std::string> written = {pack.archive.path};
        if (pack.keyFile)
            written.push_back(pack.keyFile->path);
        if (pack.volumeSize) {
            written.push_back(manifest.path);
            for (std::size_t volume = 1; volume < SetManifest::MaxVolumes; ++volume) {
                const std::string archive = SetManifest::VolumePath(pack.archive.path, volume);
                written.push_back(archive);
                if (pack.keyFile)
                    written.push_back(SetManifest::VolumeKeyPath(pack.archive.path, pack.keyFile->path, archive, volume));
            }
        }
        std::vector<FileStatus> outputs;
        for (const std::string& output : written) {
            if (const std::optional<FileStatus> status = StatusOf(output))
                outputs.push_back(*status);
        }
        return outputs;
    }

    // One source of a pack command, counted as a run would store it.
    void Source(const PackCommand& pack, std::size_t i, const std::vector<FileStatus>& outputs, PatchBase* base,
                NameClashes& clashes, std::uint64_t& volumeUsed, ScriptDryRun::Command& summary)
    {
        const PackSource& source = pack.sources[i];
        FileStatus status;
        File file = File::OpenRegular(source.path, OpenFlags::Read, &status);
        bool readable = file.IsOpen();
        for (const FileStatus& output : outputs)
            readable = readable && !status.SameFileAs(output);
        if (!readable) {
            Warn(pack, message::CannotCompress(source.written));
            return;
        }
        if (!source.archivedPath)
            language::ThrowMissingAttribute(vocabulary::ArchivedPath);
        const std::string& name = *source.archivedPath;
        if (status.size >= ArchiveAddressLimit || name.size() > MaxNameLength ||
            name.find('\0') != std::string::npos) {
            Warn(pack, message::CannotStore(source.written));
            return;
        }
        std::optional<std::pair<std::uint32_t, std::uint64_t>> content;
        if (base && !(content = HashContent(file))) {
            Warn(pack, message::CannotCompress(source.written));
            return;
        }
        ++summary.files;
        summary.bytes += status.size;
        if (base) {
            if (base->Judge(name, content->second, content->first) == PatchBase::Verdict::Skip)
                return;
            base->Stored(name);
            ++summary.patchEntries;
        }
        if (pack.volumeSize) {
            const std::uint64_t entry = FileEntry::Size + status.size;
            if (summary.volumes == 0 || (volumeUsed > ArchiveHeader::Size && volumeUsed + entry > *pack.volumeSize)) {
                ++summary.volumes;
                volumeUsed = ArchiveHeader::Size;
            }
            volumeUsed += entry;
            summary.volumesExact = summary.volumesExact && source.storeRaw;
        }
        if (const auto clash = clashes.Stored(i))
            Warn(pack, ClashWarning(*script_, pack, i, *clash));
    }

    void Generate(const GenerateCommand& generate, ScriptDryRun::Command& summary)
    {
        summary.output = generate.outputShown;
        DirectoryScanner::Result scan = DirectoryScanner::Scan(generate.sourceDirectory);
        const std::vector<bool> used = ApplyIgnorePatterns(scan.paths, generate.ignorePatterns);
        summary.files = scan.paths.size() + generate.addedPaths.size();
        for (const std::string& line : ScanWarnings(*script_, generate, scan, used))
            warnings_.Warn(line);
        if (!CouldCreate(generate.outputPath))
            warnings_.NotWritten(message::CannotWrite(generate.outputShown));
    }

    WarningLog& warnings_;
    const bool strict_;
    const std::string* script_ = nullptr;
};

}  // namespace

ScriptDryRun::Result ScriptDryRun::Check(const std::vector<std::string>& scripts, WarningLog& warnings, bool strict)
{
    Result result;
    const unsigned before = warnings.Count();
    const unsigned notWrittenBefore = warnings.NotWrittenCount();
    try {
        // Every script is loaded before any is looked at, as a run loads them.
        std::vector<Element> trees(scripts.size());
        for (std::size_t i = 0; i < scripts.size(); ++i)
            ScriptLoader::Load(scripts[i], trees[i]);
        Checker checker(warnings, strict);
        for (std::size_t i = 0; i < scripts.size(); ++i)
            checker.Script(trees[i], scripts[i], result.commands);
    } catch (const std::exception& error) {
        result.failure = error.what();
    }
    result.status = !result.failure.empty()                          ? ExitFailure
                    : warnings.NotWrittenCount() != notWrittenBefore ? ExitNotWritten
                    : warnings.Count() != before                     ? ExitWarnings
                                                                     : ExitSuccess;
    return result;
}

}  // namespace zelkor
