#include "runtime/cache_warnings.h"

#include "runtime/messages.h"
#include "runtime/warning_log.h"
#include "store/cache_settings.h"

namespace zelkor {

void CacheWarnings::Report(const CacheProblem& problem)
{
    warnings_.Warn(Of(problem));
}

std::string CacheWarnings::Of(const CacheProblem& problem)
{
    const bool remote = problem.store == CacheProblem::Store::Remote;
    if (problem.kind == CacheProblem::Kind::Unusable)
        return remote ? message::CannotUseRemoteCache(problem.where) : message::CannotUseCache(problem.where);
    return remote ? message::RemoteCacheSentDamagedEntry(problem.where, problem.key)
                  : message::CacheHeldDamagedEntry(problem.where, problem.key);
}

std::string CacheWarnings::OfSize(const CacheSettings& settings)
{
    if (settings.badSize.empty())
        return {};
    return message::CacheSizeNotASize(settings.badSize, CacheSettings::ShowSize(CacheSettings::DefaultCapacity));
}

std::string CacheWarnings::OfTrust(const CacheSettings& settings)
{
    if (settings.badTrust.empty())
        return {};
    return message::CacheTrustNotHours(settings.badTrust, std::to_string(CacheSettings::DefaultTrust.count()));
}

std::vector<std::string> CacheWarnings::OfRemote(const CacheSettings& settings)
{
    std::vector<std::string> warnings;
    if (!settings.RemoteEnabled())
        return warnings;
    if (!settings.badRemoteMode.empty())
        warnings.push_back(message::RemoteCacheModeNotAMode(settings.badRemoteMode, "read-only"));
    if (!settings.badRemoteTimeout.empty())
        warnings.push_back(message::RemoteCacheTimeoutNotSeconds(
            settings.badRemoteTimeout, std::to_string(CacheSettings::DefaultRemoteTimeout.count() / 1000)));
    return warnings;
}

std::vector<std::string> CacheWarnings::OfSettings(const CacheSettings& settings)
{
    std::vector<std::string> warnings;
    for (const std::string& warning : {OfSize(settings), OfTrust(settings)})
        if (settings.Enabled() && !warning.empty())
            warnings.push_back(warning);
    for (std::string& warning : OfRemote(settings))
        warnings.push_back(std::move(warning));
    return warnings;
}

}  // namespace zelkor
