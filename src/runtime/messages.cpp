#include "runtime/messages.h"

namespace zelkor::message {

namespace {

std::string Join(std::string_view a, std::string_view b, std::string_view c = {}, std::string_view d = {},
                 std::string_view e = {})
{
    std::string text;
    text.reserve(a.size() + b.size() + c.size() + d.size() + e.size());
    text.append(a).append(b).append(c).append(d).append(e);
    return text;
}

}  // namespace

std::string CannotCompress(std::string_view source) { return Join("Cannot compress ", source, "!"); }
std::string CannotStore(std::string_view source) { return Join("Cannot store ", source, "!"); }
std::string SplitIntoVolumes(std::string_view archive)
{
    return Join(archive, " cannot pass 4 GiB; a VolumeSize attribute splits it into volumes!");
}
std::string SetHasEveryVolume(std::string_view archive, std::size_t volumes)
{
    return Join(archive, " has its ", std::to_string(volumes), " volumes; a larger VolumeSize holds more!");
}
std::string CannotCreate(std::string_view path) { return Join("Cannot create ", path, "!"); }
std::string CannotReadKeySeed(std::string_view path) { return Join("Cannot read key seed ", path, "!"); }

std::string NoneStored(std::string_view archive, unsigned long files)
{
    return Join(archive, " not written: none of its ", std::to_string(files), " files could be stored!");
}

std::string CannotReadPatchBase(std::string_view base) { return Join("Cannot read patch base ", base, "!"); }

std::string PatchBaseHasNoKeyFile(std::string_view base, std::string_view keyFile)
{
    return Join("Patch base ", base, " has no key file ", keyFile, ", which holds its names!");
}

std::string PatchWritten(std::string_view archive, std::string_view base, std::uint64_t stored,
                         std::uint64_t deleted)
{
    std::string line = Join(archive, ": a patch of ", base, ": ");
    if (stored == 0 && deleted == 0)
        return line + "nothing changed, no entry stored and none deleted";
    return line + std::to_string(stored) + (stored == 1 ? " entry" : " entries") + " stored, " +
           std::to_string(deleted) + " deleted";
}
std::string CannotWrite(std::string_view path) { return Join("Cannot write ", path, "!"); }
std::string CannotScan(std::string_view directory) { return Join("Cannot scan ", directory, "!"); }

std::string StrictNotWritten(std::string_view archive) { return Join("Strict mode: ", archive, " not written!"); }

std::string CannotUseCache(std::string_view directory) { return Join("Cannot use cache ", directory, "!"); }

std::string CacheHeldDamagedEntry(std::string_view directory, std::string_view key)
{
    return Join("Cache ", directory, " held a damaged entry ", key, "!");
}

std::string ThreadsNotANumber(std::string_view value)
{
    return Join("ZELKOR_THREADS=\"", value, "\" is not a number of threads, taken as one per hardware thread!");
}

std::string MemoryNotASize(std::string_view value)
{
    return Join("ZELKOR_MEMORY=\"", value, "\" is not a size, taken as half the memory!");
}

std::string CacheSizeNotASize(std::string_view value, std::string_view taken)
{
    return Join("ZELKOR_CACHE_SIZE=\"", value, "\" is not a size, taken as ", taken, "!");
}

std::string CacheTrustNotHours(std::string_view value, std::string_view taken)
{
    return Join("ZELKOR_CACHE_TRUST_HOURS=\"", value, "\" is not a number of hours, taken as ", taken, "!");
}

std::string CannotUseRemoteCache(std::string_view url) { return Join("Cannot use remote cache ", url, "!"); }

std::string RemoteCacheSentDamagedEntry(std::string_view url, std::string_view key)
{
    return Join("Remote cache ", url, " sent a damaged entry ", key, "!");
}

std::string RemoteCacheModeNotAMode(std::string_view value, std::string_view taken)
{
    return Join("ZELKOR_REMOTE_CACHE_MODE=\"", value, "\" is not read-only or read-write, taken as ", taken, "!");
}

std::string RemoteCacheTimeoutNotSeconds(std::string_view value, std::string_view taken)
{
    return Join("ZELKOR_REMOTE_CACHE_TIMEOUT=\"", value, "\" is not a number of seconds, taken as ", taken, "!");
}

std::string At(std::string_view script, unsigned long line)
{
    return line == 0 ? std::string(script) : Join(script, "(", std::to_string(line), ")");
}

std::string InScript(std::string_view at, std::string_view what) { return Join(at, ": ", what); }

std::string UnknownElement(std::string_view name) { return Join("unknown element <", name, "> ignored!"); }

std::string UnknownAttribute(std::string_view name, std::string_view element)
{
    return Join("unknown attribute ", name, " of <", element, "> ignored!");
}

std::string NotABoolean(std::string_view attribute, std::string_view value)
{
    return Join(attribute, "=\"", value, "\" is not true or false, taken as false!");
}

std::string NotALevel(std::string_view attribute, std::string_view value, std::string_view taken)
{
    return Join(attribute, "=\"", value, "\" is not a level from 1 to 12, taken as ", Join(taken, "!"));
}

std::string NotAVolumeSize(std::string_view value, std::uint64_t most)
{
    return Join("VolumeSize=\"", value, "\" is not a size of 1 to ", std::to_string(most), " bytes, taken as absent!");
}

std::string RepeatedAttribute(std::string_view name)
{
    return Join("attribute ", name, " repeated, the first one used!");
}

std::string IgnoreMatchedNothing(std::string_view pattern)
{
    return Join("Ignore pattern ", pattern, " matched nothing!");
}

std::string SameEntryAs(std::string_view name, unsigned long firstLine)
{
    return Join("ArchivedPath ", name, " names the same entry as line ", std::to_string(firstLine), "!");
}

std::string NameHashOf(std::string_view name, std::string_view other, unsigned long firstLine)
{
    return Join("ArchivedPath ", name, " has the name hash of ", other,
                Join(" (line ", std::to_string(firstLine), ")!"));
}

}  // namespace zelkor::message
