#pragma once

// The archiver's own messages, spelled once. Warnings end the run with exit
// status 1, or 3 when an output was not written; failures with 2.
// docs/messages.md lists every one with what it means.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace zelkor::message {

// A source left out of an archive: it cannot be read, or the format cannot hold it.
std::string CannotCompress(std::string_view source);
std::string CannotStore(std::string_view source);
// What would have stored a source that the format cannot hold: a lone archive
// reached 4 GiB, or a set has every volume it may have.
std::string SplitIntoVolumes(std::string_view archive);
std::string SetHasEveryVolume(std::string_view archive, std::size_t volumes);
// A pack command skipped whole.
std::string CannotCreate(std::string_view path);
std::string CannotReadKeySeed(std::string_view path);
// A pack command that listed `files` files and could store none of them: its
// archive is not written.
std::string NoneStored(std::string_view archive, unsigned long files);
// The base of a patch (PatchOf) that cannot be read, or has no key file.
std::string CannotReadPatchBase(std::string_view base);
std::string PatchBaseHasNoKeyFile(std::string_view base, std::string_view keyFile);
// What a patch holds, on standard output: not a warning.
std::string PatchWritten(std::string_view archive, std::string_view base, std::uint64_t stored,
                         std::uint64_t deleted);
// A generated script, archive or key file that could not be written.
std::string CannotWrite(std::string_view path);
std::string CannotScan(std::string_view directory);

// The compression cache.
std::string CannotUseCache(std::string_view directory);
std::string CacheHeldDamagedEntry(std::string_view directory, std::string_view key);
std::string CacheSizeNotASize(std::string_view value, std::string_view taken);
std::string CacheTrustNotHours(std::string_view value, std::string_view taken);
// The run's resources.
std::string ThreadsNotANumber(std::string_view value);
std::string MemoryNotASize(std::string_view value);
// The remote compression cache, named by its URL without credentials.
std::string CannotUseRemoteCache(std::string_view url);
std::string RemoteCacheSentDamagedEntry(std::string_view url, std::string_view key);
std::string RemoteCacheModeNotAMode(std::string_view value, std::string_view taken);
std::string RemoteCacheTimeoutNotSeconds(std::string_view value, std::string_view taken);

// Where in a script: "SCRIPT(LINE)", or "SCRIPT" when the line is unknown (0).
std::string At(std::string_view script, unsigned long line);
// A message about a place in a script: "SCRIPT(LINE): WHAT".
std::string InScript(std::string_view at, std::string_view what);

// What a script holds that the language passes over.
std::string UnknownElement(std::string_view name);
std::string UnknownAttribute(std::string_view name, std::string_view element);
std::string NotABoolean(std::string_view attribute, std::string_view value);
std::string NotALevel(std::string_view attribute, std::string_view value, std::string_view taken);
std::string NotAVolumeSize(std::string_view value, std::uint64_t most);
std::string RepeatedAttribute(std::string_view name);
std::string IgnoreMatchedNothing(std::string_view pattern);

// Entries of one archive that a reader cannot tell apart.
std::string SameEntryAs(std::string_view name, unsigned long firstLine);
std::string NameHashOf(std::string_view name, std::string_view other, unsigned long firstLine);

// Failures that end the run.
std::string StrictNotWritten(std::string_view archive);
inline constexpr std::string_view UnknownException = "An unknown exception was thrown!";

}  // namespace zelkor::message
