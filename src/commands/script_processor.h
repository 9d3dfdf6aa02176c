#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <boost/property_tree/ptree.hpp>

#include "archive/loaded_file.h"

namespace zelkor {

class VolumeSetWriter;
class CompressionCache;
class PatchBase;
class FileJobPool;
class PreviousBuild;
class UnchangedBuild;
class ProgressLine;
class WarningLog;
struct GenerateCommand;
struct KeyMaterial;
struct PackCommand;
struct PackSource;

// Executes loaded scripts, command by command in document order: a pack command
// builds one archive (and its key file), a generate command writes a script.
// What the language passes over is named as the processor reaches it (see
// ScriptCheck); per-file trouble is a warning in the log and the run goes on.
// A missing ScriptFile or required attribute throws the property tree's "No
// such node (...)" where it is looked up, and a failed write of an archive
// throws ArchiveWriteError; either way the archive being built does not appear.
// docs/messages.md describes every message and when it comes.
//
// In strict mode every warning of a pack command (a source left out, entries a
// reader cannot tell apart, what the language passes over in the command) ends
// the run after it, with "Strict mode: ARCHIVE not written!", as a failure.
// Without it, a pack command that lists files and could store none of them
// writes nothing ("ARCHIVE not written: none of its N files could be
// stored!"), so that the last good build stays; that line, and a command
// skipped or a script not written, is logged as an output not written.
//
// Within a pack command the files are loaded in parallel in jobs borrowed from
// the pool, but everything observable happens in document order. A pack command
// with a key seed whose inputs and outputs are as its last build left them
// leaves both files in place (see UnchangedBuild).
//
// A pack command with PatchOf writes a patch of that base (PatchBase): only the
// files the base does not hold as they are, and beside the archive, in the same
// commit, the deletion list of the base's names that the command no longer
// lists. A base that cannot be read skips the command, as a key seed does.
//
// With a key seed, the entries of sources that did not change since the last
// build are copied from it (PreviousBuild).
// One processor is driven by one thread at a time; the log may be shared.
class ScriptProcessor {
public:
    struct Options {
        ProgressLine* progress = nullptr;  // advanced by every File handled
        bool strict = false;
        // The run's compression cache, whose records let a pack command with a
        // key seed leave an unchanged build in place (UnchangedBuild).
        CompressionCache* cache = nullptr;
        // Where lines that report and warn of nothing go, one whole line at a
        // time (what a patch holds); null: nowhere.
        WarningLog* notes = nullptr;
    };

    ScriptProcessor(FileJobPool& jobs, WarningLog& warnings, Options options)
        : jobs_(jobs), warnings_(warnings), options_(options)
    {
    }
    ScriptProcessor(FileJobPool& jobs, WarningLog& warnings) : ScriptProcessor(jobs, warnings, Options{}) {}

    // Whether ZELKOR_STRICT asks for strict mode: any value but empty and 0, so
    // that a pipeline that asks for it in any words gets it.
    static bool StrictFromEnvironment();

    // Executes the script whose loaded tree is `tree`; `scriptName` is its path
    // as given, for warnings.
    void Run(const boost::property_tree::ptree& tree, const std::string& scriptName);

private:
    // `named`: the check named something in the command.
    void RunPack(const PackCommand& pack, bool named);
    // A pack command's warning, with `notWritten` one that its archive is not
    // written; in strict mode it ends the run.
    void PackWarning(const PackCommand& pack, const std::string& line, bool notWritten = false);
    void RunGenerate(const GenerateCommand& generate);
    // What AddFiles did with the sources: how the bytes of source i were come
    // by, the source of each entry written, in order, and, for a patch, how
    // many sources its base holds already.
    struct Added {
        explicit Added(std::size_t sources) : reads(sources) {}
        std::vector<std::optional<LoadedFile::Settled>> reads;
        std::vector<std::size_t> stored;
        std::size_t matched = 0;
    };
    // Loads every source and adds it to `writer`, in order, except, for a
    // patch, those its base holds already; false when that printed a warning.
    // Entries of unchanged sources come from `previous` when given.
    bool AddFiles(const PackCommand& pack, VolumeSetWriter& writer, PatchBase* base, const PreviousBuild* previous,
                  Added& added);
    // RunPack's steps: the key seed and the patch's base, read before anything
    // is created (false, warned, when one cannot be; in strict mode a named
    // archive ends the run first); the writer's last files
    // (a patch's deletion list) and the close, with what the build records and
    // notes keep of it. CannotStore warns of a source the format cannot hold,
    // naming once (`splitNamed`) what would have stored it.
    bool ReadInputs(const PackCommand& pack, bool named, std::optional<KeyMaterial>& material,
                    std::unique_ptr<PatchBase>& base);
    void Seal(const PackCommand& pack, VolumeSetWriter& writer, const PatchBase* base,
              std::optional<UnchangedBuild>& unchanged, const Added& added, bool quiet);
    void CannotStore(const PackCommand& pack, const PackSource& source, const VolumeSetWriter& writer,
                     bool& splitNamed);

    FileJobPool& jobs_;
    WarningLog& warnings_;
    Options options_;
    const std::string* scriptName_ = nullptr;  // of the script being run
};

}  // namespace zelkor
