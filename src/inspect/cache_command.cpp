#include "inspect/cache_command.h"

#include <cstdio>
#include <stdexcept>

#include "cache/local_store.h"
#include "inspect/inspected_archive.h"
#include "inspect/json_document.h"
#include "runtime/cache_warnings.h"
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
        err << CacheWarnings::OfSize(settings) << '\n';
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
        CacheCommand::PrintJson(directory, *statistics, settings.capacity, out);
    else
        CacheCommand::PrintText(directory, *statistics, settings.capacity, out);
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

namespace {

// With the largest binary unit that keeps a whole number in front: 812.3 KiB,
// 17.7 MiB, 5.0 GiB.
std::string Size(std::uint64_t bytes)
{
    const char* units[] = {"bytes", "KiB", "MiB", "GiB", "TiB"};
    double value = static_cast<double>(bytes);
    int unit = 0;
    while (value >= 1024 && unit < 4) {
        value /= 1024;
        ++unit;
    }
    char text[32];
    if (unit == 0)
        std::snprintf(text, sizeof text, "%llu bytes", static_cast<unsigned long long>(bytes));
    else
        std::snprintf(text, sizeof text, "%.1f %s", value, units[unit]);
    return text;
}

std::string Percent(std::uint64_t part, std::uint64_t whole)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.1f%%", whole > 0 ? 100.0 * static_cast<double>(part) / static_cast<double>(whole) : 0.0);
    return text;
}

}  // namespace

void CacheCommand::PrintText(const std::string& directory, const LocalStore::Statistics& statistics,
                            std::uint64_t capacity, std::ostream& out)
{
    out << "cache " << InspectedArchive::Printable(directory) << ": " << statistics.entries
        << (statistics.entries == 1 ? " entry, " : " entries, ") << Size(statistics.bytes) << " of a cap of "
        << Size(capacity) << " (" << Percent(statistics.bytes, capacity) << ")\n";
    const CacheCounters& counters = statistics.counters;
    const std::uint64_t lookups = counters.hits + counters.misses;
    out << "since the counters were reset: " << counters.hits << (counters.hits == 1 ? " hit, " : " hits, ")
        << counters.misses << (counters.misses == 1 ? " miss" : " misses");
    if (lookups > 0)
        out << " (" << Percent(counters.hits, lookups) << " hits)";
    out << ", " << Size(counters.savedBytes) << " of compression saved";
    if (counters.damaged > 0)
        out << ", " << counters.damaged << (counters.damaged == 1 ? " damaged entry" : " damaged entries")
            << " removed";
    if (counters.copied > 0)
        out << ", " << counters.copied << (counters.copied == 1 ? " archive entry" : " archive entries")
            << " copied from earlier builds";
    out << '\n';
    if (!statistics.remote)
        return;
    const RemoteCounters& remote = statistics.remote->counters;
    const auto count = [](std::uint64_t n, const char* one, const char* many) {
        return std::to_string(n) + " " + (n == 1 ? one : many);
    };
    out << "last run with the remote cache " << InspectedArchive::Printable(statistics.remote->url) << ": "
        << count(remote.hits, "hit", "hits") << ", " << count(remote.misses, "miss", "misses") << ", "
        << count(remote.damaged, "damaged entry", "damaged entries") << ", "
        << count(remote.uploads, "upload", "uploads") << " done, " << remote.uploadsDropped << " dropped, "
        << Size(remote.bytesDown) << " down, " << Size(remote.bytesUp) << " up";
    if (remote.unusable)
        out << "; it could not be used";
    out << '\n';
}

void CacheCommand::PrintJson(const std::string& directory, const LocalStore::Statistics& statistics,
                            std::uint64_t capacity, std::ostream& out)
{
    JsonDocument json(out);
    json.Member("directory", JsonDocument::Text(directory));
    json.Member("entries", statistics.entries);
    json.Member("bytes", statistics.bytes);
    json.Member("capacity", capacity);
    json.Member("hits", statistics.counters.hits);
    json.Member("misses", statistics.counters.misses);
    json.Member("savedBytes", statistics.counters.savedBytes);
    json.Member("damaged", statistics.counters.damaged);
    json.Member("copied", statistics.counters.copied);
    if (statistics.remote) {
        const RemoteCounters& remote = statistics.remote->counters;
        JsonDocument::Value last;
        last["url"] = JsonDocument::Text(statistics.remote->url);
        last["hits"] = remote.hits;
        last["misses"] = remote.misses;
        last["damaged"] = remote.damaged;
        last["uploads"] = remote.uploads;
        last["uploadsDropped"] = remote.uploadsDropped;
        last["bytesDown"] = remote.bytesDown;
        last["bytesUp"] = remote.bytesUp;
        last["unusable"] = remote.unusable;
        json.Member("remote", last);
    } else {
        json.Member("remote", nullptr);
    }
    json.End();
}

}  // namespace zelkor
