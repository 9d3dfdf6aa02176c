#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace zelkor {

class WarningLog;

// Reads scripts as the archiver would and tells what a run would say, as far
// as that can be known without compressing: the script warnings, the failure
// that would end the run, sources that cannot be read or stored, key seeds
// that cannot be read, outputs that cannot be created, entries a reader could
// not tell apart, and what a generate command's scan meets; for a patch
// (PatchOf), what it would hold and delete, for which it reads and hashes every
// source that can be stored. It writes nothing
// at all: no archive, key file, lock, temporary file, cache entry or script.
//
// Scripts are taken one after the other in the order given (a run executes
// them at once, so between scripts its lines may come in another order).
// Warnings go to the log, in the run's words; nothing is thrown.
class ScriptDryRun {
public:
    struct Command {
        std::string script;         // as given
        unsigned long line = 0;     // of the command's element; 0 when unknown
        bool pack = true;           // a pack command; otherwise a generate command
        std::string output;         // the archive, or the script to write, as written
        std::uint64_t files = 0;    // entries that would be stored, or Files listed
        std::uint64_t bytes = 0;    // bytes the entries would read
        // With a VolumeSize: the volumes of the set, counted with every entry
        // as large as its source (compression only makes entries smaller, and
        // never adds a volume), so exact only when every entry is stored raw
        // (Store). 0 without a VolumeSize.
        std::uint64_t volumes = 0;
        bool volumesExact = false;
        // With PatchOf: the base as written, the entries the patch would hold
        // (files that differ from the base's, by raw size and content hash) and
        // the base's names it would delete.
        std::optional<std::string> patchOf;
        std::uint64_t patchEntries = 0;
        std::uint64_t patchDeletions = 0;
    };
    struct Result {
        std::vector<Command> commands;  // every command reached, in order
        std::string failure;            // the message that would end the run; empty: none
        int status = 0;                 // the run's exit status
    };

    // With `strict`, as ZELKOR_STRICT makes the archiver.
    static Result Check(const std::vector<std::string>& scripts, WarningLog& warnings, bool strict);
};

}  // namespace zelkor
