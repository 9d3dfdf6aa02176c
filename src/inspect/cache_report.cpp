#include "inspect/cache_report.h"

#include <cstdio>

#include "inspect/inspected_archive.h"
#include "inspect/json_document.h"

namespace zelkor {

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

void CacheReport::PrintText(const std::string& directory, const LocalStore::Statistics& statistics,
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

void CacheReport::PrintJson(const std::string& directory, const LocalStore::Statistics& statistics,
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
