// Any bytes as a script, executed inside a private directory that holds a few
// source files: the run must end without a crash or a hang, whatever the script
// says. Scripts name paths and the fuzzer may run as root, so an input is skipped
// when any value in its tree is an absolute path or has a ".." component:
// everything the script reads or writes then stays below the directory.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include <boost/property_tree/detail/xml_parser_error.hpp>

#include "script/script_loader.h"
#include "scratch_dir.h"
#include "commands/script_processor.h"
#include "pack/file_job_pool.h"
#include "runtime/warning_log.h"

namespace {

bool StaysInside(const std::string& value)
{
    if (value.empty())
        return true;
    if (value.front() == '/' || value.front() == '\\' || value.front() == '~')
        return false;
    // Backslashes count as separators too: paths a script hands to the file system
    // have them turned into slashes.
    std::size_t start = 0;
    while (start <= value.size()) {
        std::size_t end = value.find_first_of("/\\", start);
        if (end == std::string::npos)
            end = value.size();
        if (value.compare(start, end - start, "..") == 0)
            return false;
        start = end + 1;
    }
    return true;
}

bool TreeStaysInside(const boost::property_tree::ptree& tree)
{
    if (!StaysInside(tree.data()))
        return false;
    for (const auto& [name, child] : tree)
        if (!TreeStaysInside(child))
            return false;
    return true;
}

void MakeSources(const zelkor::fuzz::ScratchDir& scratch)
{
    scratch.Clear();
    std::filesystem::create_directories(scratch.path() / "src/sub");
    std::ofstream(scratch.path() / "src/a.txt") << std::string(3000, 'a');
    std::ofstream(scratch.path() / "src/sub/b.bin") << "\x01\x02\x03\x04";
    std::ofstream(scratch.path() / "src/empty");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static zelkor::fuzz::ScratchDir scratch;
    static zelkor::FileJobPool jobs(4, 1 << 20);
    static const int entered = ::chdir(scratch.path().c_str());
    if (entered != 0)
        std::abort();

    boost::property_tree::ptree tree;
    try {
        zelkor::ScriptLoader::Parse(std::string(reinterpret_cast<const char*>(data), size),
                                    "fuzz.xml", tree);
    } catch (const boost::property_tree::xml_parser::xml_parser_error&) {
        return 0;
    }
    if (!TreeStaysInside(tree))
        return 0;

    MakeSources(scratch);
    std::ostringstream warnings;
    zelkor::WarningLog log(warnings);
    zelkor::ScriptProcessor processor(jobs, log);
    try {
        processor.Run(tree, "fuzz.xml");
    } catch (const std::exception&) {
        // Missing elements and attributes, failed writes: clean failures.
    }
    return 0;
}
