#pragma once

#include <string>
#include <vector>

#include "store/cache_problem.h"

namespace zelkor {

struct CacheSettings;
class WarningLog;

// The compression cache's problems in the tool's words, written to the run's
// warning log: "Cannot use cache DIR!", "Cache DIR held a damaged entry KEY!",
// "Cannot use remote cache URL!", "Remote cache URL sent a damaged entry KEY!".
//
// Thread-safe as the log is.
class CacheWarnings final : public CacheProblemSink {
public:
    // The log must outlive the sink.
    explicit CacheWarnings(WarningLog& warnings) : warnings_(warnings) {}

    void Report(const CacheProblem& problem) override;

    // The sentence for `problem`.
    static std::string Of(const CacheProblem& problem);

    // The warning for a ZELKOR_CACHE_SIZE that is not a size ("... taken as
    // 5G!"), the same words in both programs; empty when the size is good.
    static std::string OfSize(const CacheSettings& settings);
    // `ZELKOR_CACHE_TRUST_HOURS="VALUE" is not a number of hours, taken as
    // 24!` for a bound that could not be read; empty when fine.
    static std::string OfTrust(const CacheSettings& settings);
    // The warnings of a remote mode or timeout that could not be read, when a
    // remote store is named; none otherwise.
    static std::vector<std::string> OfRemote(const CacheSettings& settings);
    // Every warning of the settings a run uses: the size and the trust bound
    // when a local cache is named, the remote mode and timeout when a remote
    // store is.
    static std::vector<std::string> OfSettings(const CacheSettings& settings);

private:
    WarningLog& warnings_;
};

}  // namespace zelkor
