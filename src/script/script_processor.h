#pragma once

#include <boost/property_tree/ptree.hpp>

namespace zelkor {

class FileJob;
class WarningLog;

// Executes loaded scripts, command by command in document order:
//
// CreateOrvanPack builds one archive (and, with BuildKeyfile true, its key file)
// from its File children in document order. A source that cannot be loaded is
// left out with "Cannot compress SOURCE!"; an entry the archive format cannot
// hold, with "Cannot store SOURCE!"; an archive or key file that cannot be
// created skips the whole command with "Cannot create PATH!". A File's
// ArchivedPath is looked up only once its source has loaded.
//
// CreateOrvanPackXml writes a generated script (see ScriptWriter); directories
// it could not scan give "Cannot scan DIR!", a script it could not write
// "Cannot write PATH!". The generated script is not executed.
//
// Any other child of ScriptFile is passed over. A missing ScriptFile or required
// attribute throws the property tree's "No such node (...)" error at the moment it
// is looked up; the archive being built is then closed with the entries written so
// far. Failures to write an archive throw "Cannot write PATH!".
//
// One processor belongs to one thread; it loads every file through the FileJob it
// is given and reports warnings to the log, which may be shared.
class ScriptProcessor {
public:
    ScriptProcessor(FileJob& job, WarningLog& warnings) : job_(job), warnings_(warnings) {}

    // Executes the script whose loaded tree is `tree`.
    void Run(const boost::property_tree::ptree& tree);

    void RunPackCommand(const boost::property_tree::ptree& command);
    void RunGenerateCommand(const boost::property_tree::ptree& command);

private:
    FileJob& job_;
    WarningLog& warnings_;
};

}  // namespace zelkor
