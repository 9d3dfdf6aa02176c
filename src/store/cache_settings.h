#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zelkor {

// What the environment asks of the compression cache, read once per program
// (FromEnvironment) and handed down: ZELKOR_CACHE_DIR names the directory (unset
// or empty: no local cache), ZELKOR_CACHE_SIZE caps it; ZELKOR_REMOTE_CACHE names
// a remote store (unset or empty: none), ZELKOR_REMOTE_CACHE_MODE says whether
// it is written, ZELKOR_REMOTE_CACHE_TOKEN authorises, ZELKOR_REMOTE_CACHE_TIMEOUT
// bounds each request; ZELKOR_CACHE_REHASH turns the trust in sources'
// status records off, ZELKOR_CACHE_TRUST_HOURS bounds it.
struct CacheSettings {
    static constexpr std::uint64_t DefaultCapacity = std::uint64_t{5} << 30;
    static constexpr std::chrono::milliseconds DefaultRemoteTimeout{10'000};
    // Longer waits than an hour are taken for a typing error.
    static constexpr std::chrono::milliseconds LongestRemoteTimeout{3'600'000};

    std::string directory;
    std::uint64_t capacity = DefaultCapacity;
    // A ZELKOR_CACHE_SIZE that is not a size, as it was set (the default cap is
    // used then); empty when there is none.
    std::string badSize;
    // ZELKOR_CACHE_REHASH set (to anything but empty or 0): every source is read
    // and hashed, whatever its status record says.
    bool rehash = false;
    // ZELKOR_CACHE_TRUST_HOURS: how long after a source's bytes were last read
    // and hashed its status record (and a build left in place by it) is
    // trusted; 0 to a year. A value that is not such a number, as it was set
    // (the default is used then); empty when fine.
    static constexpr std::chrono::hours DefaultTrust{24};
    static constexpr std::chrono::hours LongestTrust{24 * 366};
    std::chrono::hours trust = DefaultTrust;
    std::string badTrust;

    // The remote store's URL as set, credentials and all (RemoteUrl reads it).
    std::string remote;
    // Read-only unless the mode says read-write or is not set: a mode that is
    // neither is taken as read-only, so that a misspelling never writes.
    bool remoteReadOnly = false;
    std::string remoteToken;
    std::chrono::milliseconds remoteTimeout = DefaultRemoteTimeout;
    // A mode or timeout that could not be read, as it was set; empty when fine.
    std::string badRemoteMode;
    std::string badRemoteTimeout;

    // Reads the variables through `lookup` (getenv's contract: null when unset;
    // the text stays valid until FromEnvironment returns).
    using Lookup = std::function<const char*(const char* name)>;
    static CacheSettings FromEnvironment(Lookup lookup);
    static CacheSettings FromEnvironment();

    // A local cache directory is named.
    bool Enabled() const { return !directory.empty(); }
    bool RemoteEnabled() const { return !remote.empty(); }

    // "5G", "500M", "64K" (either case) or a number of bytes, up to 2^64 - 1;
    // nothing when the text is none of these or the size does not fit.
    static std::optional<std::uint64_t> ParseSize(std::string_view text);
    // A size as ParseSize reads it, in the largest unit that keeps it whole.
    static std::string ShowSize(std::uint64_t size);
    // "10", "2.5", "0.25": a positive number of seconds up to an hour, to the
    // millisecond; nothing for anything else.
    static std::optional<std::chrono::milliseconds> ParseSeconds(std::string_view text);
    // "24", "0", "168": whole hours up to LongestTrust; nothing for anything else.
    static std::optional<std::chrono::hours> ParseHours(std::string_view text);
};

}  // namespace zelkor
