#pragma once

#include <optional>
#include <ostream>

#include "inspect/command_options.h"
#include "inspect/json_document.h"

namespace zelkor {

// One subcommand of zelkor-inspect: the arguments and options it adds to its part
// of the command line, bound to fields of its own, and what it does once they are
// parsed. A fresh one is made for every run; used by one thread.
class InspectCommand {
public:
    virtual ~InspectCommand() = default;

    virtual void AddOptions(CommandOptions::Verb& command) = 0;

    // Returns the exit status. Results go to `out`, messages about single entries
    // to `err`; a failure that ends the run is thrown, and reported by the caller.
    virtual int Run(std::ostream& out, std::ostream& err) = 0;

    // With --json, the members that name the command's inputs in the document that
    // reports a failure ({"archive": ...}); nothing when it writes text.
    virtual std::optional<JsonDocument::Value> FailureMembers() const = 0;
};

}  // namespace zelkor
