#pragma once

#include <string>
#include <vector>

#include <boost/property_tree/ptree.hpp>

#include "pack/pack_source.h"

namespace zelkor {

class ArchiveWriter;
class FileJobPool;
class ProgressLine;
class WarningLog;

// Executes loaded scripts, command by command in document order:
//
// CreateOrvanPack builds one archive (and, with BuildKeyfile true, its key file)
// from its File children in document order, with key material derived from its
// KeySeedPath when it has one ("Cannot read key seed PATH!" skips the command
// when that file cannot be read). A source that cannot be loaded is
// left out with "Cannot compress SOURCE!"; an entry the archive format cannot
// hold, with "Cannot store SOURCE!"; an archive or key file that cannot be
// created skips the whole command with "Cannot create PATH!". A File's
// ArchivedPath is looked up only once its source has loaded.
//
// CreateOrvanPackXml scans, filters and writes a generated script (see
// GenerateCommand and ScriptWriter); directories
// it could not scan give "Cannot scan DIR!", a script it could not write
// "Cannot write PATH!". The generated script is not executed.
//
// Any other child of ScriptFile is passed over. What the language does not have
// (elements, attributes, BuildKeyfile values that are not booleans) is named by
// a warning as the processor reaches it; for a command, before the command runs
// (see ScriptCheck). A missing ScriptFile or required
// attribute throws the property tree's "No such node (...)" error at the moment it
// is looked up; the archive being built is then closed with the entries written so
// far. Failures to write an archive throw "Cannot write PATH!".
//
// Within a pack command, the files after the one being written are loaded,
// hashed and compressed meanwhile on the other threads of the current task arena
// (see ParallelLoader), in jobs borrowed from the pool. Everything observable
// still happens one file at a time in document order, exactly as if each file
// were loaded right before it is written: entries, warnings, attribute lookups
// and failures. When a file ends the run, files after it may have been read,
// but none is written or reported.
//
// One processor is driven by one thread at a time; the pool is its own while it
// runs, and the warning log may be shared.
class ScriptProcessor {
public:
    // With `progress`, every File handled advances it.
    ScriptProcessor(FileJobPool& jobs, WarningLog& warnings, ProgressLine* progress = nullptr)
        : jobs_(jobs), warnings_(warnings), progress_(progress)
    {
    }

    // Executes the script whose loaded tree is `tree`; `scriptName` is its path
    // as given, for warnings.
    void Run(const boost::property_tree::ptree& tree, const std::string& scriptName);

    // The File children of a pack command, in document order.
    static std::vector<PackSource> PackSources(const boost::property_tree::ptree& command);

    void RunPackCommand(const boost::property_tree::ptree& command);
    void RunGenerateCommand(const boost::property_tree::ptree& command);

private:
    // Loads every source and adds it to `writer`, in order.
    void AddFiles(const std::vector<PackSource>& sources, ArchiveWriter& writer);

    FileJobPool& jobs_;
    WarningLog& warnings_;
    ProgressLine* progress_;
};

}  // namespace zelkor
