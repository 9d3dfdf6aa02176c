#pragma once

#include <string>

#include <boost/property_tree/ptree.hpp>

namespace zelkor {

class ArchiveWriter;
class FileJobPool;
class ProgressLine;
class WarningLog;
struct GenerateCommand;
struct PackCommand;

// Executes loaded scripts, command by command in document order: a pack command
// builds one archive (and its key file), a generate command writes a script.
// What the language passes over is named as the processor reaches it (see
// ScriptCheck); per-file trouble is a warning in the log and the run goes on.
// A missing ScriptFile or required attribute throws the property tree's "No
// such node (...)" where it is looked up, and a failed write of an archive
// throws ArchiveWriteError; either way the archive being built does not appear.
// The README describes every message and when it comes.
//
// Within a pack command the files are loaded in parallel in jobs borrowed from
// the pool, but everything observable happens in document order.
// One processor is driven by one thread at a time; the log may be shared.
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

private:
    void RunPack(const PackCommand& pack);
    void RunGenerate(const GenerateCommand& generate);
    // Loads every source and adds it to `writer`, in order.
    void AddFiles(const PackCommand& pack, ArchiveWriter& writer);

    FileJobPool& jobs_;
    WarningLog& warnings_;
    ProgressLine* progress_;
    const std::string* scriptName_ = nullptr;  // of the script being run
};

}  // namespace zelkor
