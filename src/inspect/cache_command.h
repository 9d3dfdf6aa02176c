#pragma once

#include <cstdint>
#include <ostream>
#include <string>

#include "cache/local_store.h"
#include "inspect/inspect_command.h"

namespace zelkor {

// `cache [DIR] [--reset | --clear] [--json]`: the compression cache in DIR
// (default: $ZELKOR_CACHE_DIR).
//
// What a compression cache holds (entries, bytes, against
// its cap), and its hits, misses and bytes of compression saved since its
// counters were last reset.
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

public:
    // "cache DIR: N entries, 17.7 MiB of a cap of 5.0 GiB (0.3%)" and the
    // counters, on two lines; damaged entries only when there were any; a third
    // line for the last run with a remote cache, when one recorded itself.
    static void PrintText(const std::string& directory, const LocalStore::Statistics& statistics,
                          std::uint64_t capacity, std::ostream& out);

    // {"directory", "entries", "bytes", "capacity", "hits", "misses",
    // "savedBytes", "damaged", "remote": {"url", "hits", "misses", "damaged",
    // "uploads", "uploadsDropped", "bytesDown", "bytesUp", "unusable"} or null}.
    static void PrintJson(const std::string& directory, const LocalStore::Statistics& statistics,
                          std::uint64_t capacity, std::ostream& out);
};

}  // namespace zelkor
