#include "inspect/cache_command.h"

#include <stdexcept>

#include "cache/local_store.h"
#include "inspect/cache_report.h"
#include "inspect/inspected_archive.h"
#include "runtime/exit_status.h"
#include "store/cache_directory.h"
#include "store/cache_settings.h"

namespace zelkor {

void CacheCommand::AddOptions(CommandOptions::Verb& command)
{
    command.Argument("DIR", cacheDirectory_, "The cache directory (default: $ZELKOR_CACHE_DIR)");
    const int reset = command.Flag("--reset", resetCounters_, "Set the hit and miss counters to zero");
    const int clear = command.Flag("--clear", clearCache_, "Remove every entry, and set the counters to zero");
    command.Excludes(clear, reset);
    command.Flag("--json", json_, "Write one JSON document");
}

int CacheCommand::Run(std::ostream& out, std::ostream& err)
{
    // The environment read as the archiver reads it, with the same warning.
    const CacheSettings settings = CacheSettings::FromEnvironment();
    int status = ExitSuccess;
    if (!settings.badSize.empty()) {
        err << settings.Warning() << '\n';
        status = ExitWarnings;
    }
    const std::string directory = !cacheDirectory_.empty() ? cacheDirectory_ : settings.directory;
    if (directory.empty())
        throw std::runtime_error("no cache directory: name one, or set ZELKOR_CACHE_DIR");
    if (resetCounters_ || clearCache_) {
        switch (LocalStore::Clear(directory, clearCache_, LocalStore::DefaultLockWait)) {
        case LocalStore::Reset::Done:
            break;
        case LocalStore::Reset::NotACache:
            throw std::runtime_error(InspectedArchive::Printable(directory) + " is no cache (it holds no " +
                                     CacheDirectory::TagName + "): nothing in it is touched");
        case LocalStore::Reset::Failed:
            throw std::runtime_error("cannot reset the cache " + InspectedArchive::Printable(directory));
        }
    }
    const std::optional<LocalStore::Statistics> statistics = LocalStore::Inspect(directory);
    if (!statistics)
        throw std::runtime_error("no cache at " + InspectedArchive::Printable(directory));
    if (json_)
        CacheReport::PrintJson(directory, *statistics, settings.capacity, out);
    else
        CacheReport::PrintText(directory, *statistics, settings.capacity, out);
    return status;
}

std::optional<JsonDocument::Value> CacheCommand::FailureMembers() const
{
    if (!json_)
        return std::nullopt;
    JsonDocument::Value members;
    members["directory"] = JsonDocument::Text(cacheDirectory_);
    return members;
}

}  // namespace zelkor
