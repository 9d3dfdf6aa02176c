#include "cache/cache_settings.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "platform/byte_size.h"
#include "platform/messages.h"

namespace zelkor {

CacheSettings CacheSettings::FromEnvironment(Lookup lookup)
{
    CacheSettings settings;
    if (const char* directory = lookup("ZELKOR_CACHE_DIR"))
        settings.directory = directory;
    if (const char* size = lookup("ZELKOR_CACHE_SIZE"); size && *size) {
        if (const std::optional<std::uint64_t> parsed = ParseSize(size))
            settings.capacity = *parsed;
        else
            settings.badSize = size;
    }
    if (const char* rehash = lookup("ZELKOR_CACHE_REHASH"))
        settings.rehash = *rehash && std::string_view(rehash) != "0";
    if (const char* remote = lookup("ZELKOR_REMOTE_CACHE"))
        settings.remote = remote;
    if (const char* mode = lookup("ZELKOR_REMOTE_CACHE_MODE"); mode && *mode) {
        const std::string_view text = mode;
        settings.remoteReadOnly = text != "read-write";
        if (text != "read-only" && text != "read-write")
            settings.badRemoteMode = text;
    }
    if (const char* token = lookup("ZELKOR_REMOTE_CACHE_TOKEN"))
        settings.remoteToken = token;
    if (const char* timeout = lookup("ZELKOR_REMOTE_CACHE_TIMEOUT"); timeout && *timeout) {
        if (const std::optional<std::chrono::milliseconds> parsed = ParseSeconds(timeout))
            settings.remoteTimeout = *parsed;
        else
            settings.badRemoteTimeout = timeout;
    }
    return settings;
}

CacheSettings CacheSettings::FromEnvironment()
{
    return FromEnvironment([](const char* name) -> const char* { return std::getenv(name); });
}

std::string CacheSettings::Warning() const
{
    if (badSize.empty())
        return {};
    return message::CacheSizeNotASize(badSize, ShowSize(DefaultCapacity));
}

std::vector<std::string> CacheSettings::RemoteWarnings() const
{
    std::vector<std::string> warnings;
    if (!RemoteEnabled())
        return warnings;
    if (!badRemoteMode.empty())
        warnings.push_back(message::RemoteCacheModeNotAMode(badRemoteMode, "read-only"));
    if (!badRemoteTimeout.empty())
        warnings.push_back(message::RemoteCacheTimeoutNotSeconds(
            badRemoteTimeout, std::to_string(DefaultRemoteTimeout.count() / 1000)));
    return warnings;
}

std::optional<std::chrono::milliseconds> CacheSettings::ParseSeconds(std::string_view text)
{
    // Whole seconds, then at most three decimals: nothing finer is kept, and
    // digits past that are more likely a typing error than a wish.
    std::int64_t milliseconds = 0;
    std::size_t i = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        milliseconds = milliseconds * 10 + (text[i] - '0') * 1000;
        if (milliseconds > LongestRemoteTimeout.count())
            return std::nullopt;
    }
    if (i == 0)
        return std::nullopt;
    if (i < text.size() && text[i] == '.') {
        const std::size_t decimals = text.size() - i - 1;
        if (decimals == 0 || decimals > 3)
            return std::nullopt;
        std::int64_t unit = 100;
        for (++i; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i, unit /= 10)
            milliseconds += (text[i] - '0') * unit;
    }
    if (i != text.size() || milliseconds <= 0 || milliseconds > LongestRemoteTimeout.count())
        return std::nullopt;
    return std::chrono::milliseconds(milliseconds);
}

std::optional<std::uint64_t> CacheSettings::ParseSize(std::string_view text)
{
    return ParseByteSize(text);
}

std::string CacheSettings::ShowSize(std::uint64_t size)
{
    return ShowByteSize(size);
}

}  // namespace zelkor
