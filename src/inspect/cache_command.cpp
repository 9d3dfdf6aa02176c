#include "inspect/cache_command.h"

#include <stdexcept>

#include <CLI/CLI.hpp>

#include "inspect/cache_report.h"
#include "inspect/inspected_archive.h"
#include "platform/exit_status.h"

namespace zelkor {

void CacheCommand::AddOptions(CLI::App& command)
{
    command.add_option("DIR", cacheDirectory_, "The cache directory (default: $ZELKOR_CACHE_DIR)");
    CLI::Option* reset = command.add_flag("--reset", resetCounters_, "Set the hit and miss counters to zero");
    command.add_flag("--clear", clearCache_, "Remove every entry, and set the counters to zero")->excludes(reset);
    command.add_flag("--json", json_, "Write one JSON document");
}

int CacheCommand::Run(std::ostream& out, std::ostream&)
{
    std::string badSize;
    const std::optional<CompressionCache::Settings> settings = CompressionCache::FromEnvironment(badSize);
    const std::string directory =
        !cacheDirectory_.empty() ? cacheDirectory_ : settings ? settings->directory : std::string();
    if (directory.empty())
        throw std::runtime_error("no cache directory: name one, or set ZELKOR_CACHE_DIR");
    if ((resetCounters_ || clearCache_) && !CompressionCache::Reset(directory, clearCache_))
        throw std::runtime_error("cannot reset the cache " + InspectedArchive::Printable(directory));
    const std::optional<CompressionCache::Statistics> statistics = CompressionCache::Inspect(directory);
    if (!statistics)
        throw std::runtime_error("no cache at " + InspectedArchive::Printable(directory));
    const std::uint64_t capacity = settings ? settings->capacity : CompressionCache::DefaultCapacity;
    if (json_)
        CacheReport::PrintJson(directory, *statistics, capacity, out);
    else
        CacheReport::PrintText(directory, *statistics, capacity, out);
    return ExitSuccess;
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
