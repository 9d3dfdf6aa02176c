// zelkor-inspect's command line as each verb declares it: what is required,
// what excludes what, defaults shown in --help, and the verb chosen.
#include "inspect/inspect_command_line.h"

#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "runtime/exit_status.h"

namespace zelkor {
namespace {

struct Row {
    std::vector<const char*> arguments;
    bool runs;            // a verb is chosen and its run goes on
    int status;           // otherwise the exit status
    std::string printed;  // part of what is printed, on out or err
};

TEST(InspectCommandLineTest, EachVerbTakesWhatItDeclares)
{
    const Row rows[] = {
        {{"list", "a.pak"}, true, 0, ""},
        {{"list", "a.pak", "--mount", "b.pak", "*.png"}, true, 0, ""},
        {{"diff", "a.pak", "b.pak", "--new-key", "b.zlk"}, true, 0, ""},
        {{"cache", "--reset"}, true, 0, ""},
        {{"check", "s.xml", "t.xml", "--json"}, true, 0, ""},
        {{"list"}, false, ExitFailure, "ARCHIVE is required"},
        {{"check"}, false, ExitFailure, "SCRIPT is required"},
        {{"list", "a.pak", "--key", "k", "--no-key"}, false, ExitFailure, "--key excludes --no-key"},
        {{"diff", "a", "b", "--new-key", "x", "--new-no-key"}, false, ExitFailure, "--new-key excludes --new-no-key"},
        {{"cache", "--reset", "--clear"}, false, ExitFailure, "--reset excludes --clear"},
        {{"bogus"}, false, ExitFailure, "unknown command bogus"},
        {{"extract", "--help"}, false, ExitSuccess, "-o,--output DIR=."},
        {{"report", "--help"}, false, ExitSuccess, "-o,--output FILE"},
        {{"--version"}, false, ExitSuccess, "zelkor-inspect "},
    };
    for (const Row& row : rows) {
        std::vector<const char*> argv = {"zelkor-inspect"};
        argv.insert(argv.end(), row.arguments.begin(), row.arguments.end());
        std::ostringstream out;
        std::ostringstream err;
        const InspectCommandLine::Parsed parsed =
            InspectCommandLine::Parse(static_cast<int>(argv.size()), argv.data(), out, err);
        const std::string said = out.str() + err.str();
        EXPECT_EQ(parsed.command != nullptr, row.runs) << row.arguments.front() << ": " << said;
        if (!row.runs) {
            EXPECT_EQ(parsed.status, row.status) << row.arguments.front() << ": " << said;
        }
        EXPECT_NE(said.find(row.printed), std::string::npos) << row.arguments.front() << ": " << said;
    }
}

}  // namespace
}  // namespace zelkor
