#pragma once

#include <string>
#include <vector>

#include "inspect/inspect_command.h"

namespace zelkor {

// `check SCRIPT... [--json]`: what `zelkor SCRIPT...` would print on standard
// error, as far as it is known without compressing (ScriptDryRun), with one
// summary line per command on standard output; the run's exit status. Writes
// nothing anywhere.
class CheckCommand : public InspectCommand {
public:
    void AddOptions(CommandOptions::Verb& command) override;
    int Run(std::ostream& out, std::ostream& err) override;
    std::optional<JsonDocument::Value> FailureMembers() const override;

private:
    std::vector<std::string> scripts_;
    bool json_ = false;
};

}  // namespace zelkor
