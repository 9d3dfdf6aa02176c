#pragma once

#include <string>

#include "inspect/inspect_command.h"

namespace zelkor {

// `cache [DIR] [--reset | --clear] [--json]`: the report of CacheReport on the
// compression cache in DIR (default: $ZELKOR_CACHE_DIR).
class CacheCommand : public InspectCommand {
public:
    void AddOptions(CommandOptions::Verb& command) override;
    int Run(std::ostream& out, std::ostream& err) override;
    std::optional<JsonDocument::Value> FailureMembers() const override;

private:
    std::string cacheDirectory_;  // empty: $ZELKOR_CACHE_DIR
    bool resetCounters_ = false;
    bool clearCache_ = false;
    bool json_ = false;
};

}  // namespace zelkor
