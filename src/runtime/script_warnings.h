#pragma once

#include <string>

#include "script/script_remark.h"

namespace zelkor {

class WarningLog;

// What ScriptCheck finds in a script, in the tool's words, written to the run's
// warning log as "SCRIPT(LINE): WHAT" ("(LINE)" left out when it is unknown):
// "unknown element <NAME> ignored!", "unknown attribute NAME of <ELEMENT>
// ignored!", "BuildKeyfile="VALUE" is not true or false, taken as false!" and
// the others of docs/messages.md.
class ScriptWarnings final : public ScriptRemarkSink {
public:
    // Both must outlive the sink; `script` is the script's name as given.
    ScriptWarnings(const std::string& script, WarningLog& warnings) : script_(script), warnings_(warnings) {}

    void Report(const ScriptRemark& remark) override;

    // What the remark says, without its place.
    static std::string Of(const ScriptRemark& remark);

private:
    const std::string& script_;
    WarningLog& warnings_;
};

}  // namespace zelkor
