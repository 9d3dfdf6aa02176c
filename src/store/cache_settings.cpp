#include "store/cache_settings.h"

#include <cstdint>
#include <list>
#include <string_view>

#include "platform/byte_size.h"
#include "platform/environment.h"

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
    if (const char* trust = lookup("ZELKOR_CACHE_TRUST_HOURS"); trust && *trust) {
        if (const std::optional<std::chrono::hours> parsed = ParseHours(trust))
            settings.trust = *parsed;
        else
            settings.badTrust = trust;
    }
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
    // The values as UTF-8 on every system (a cache directory may have any
    // name), kept here while they are read.
    std::list<std::string> values;
    return FromEnvironment([&values](const char* name) -> const char* {
        std::optional<std::string> value = EnvironmentVariable(name);
        return value ? values.emplace_back(std::move(*value)).c_str() : nullptr;
    });
}

std::optional<std::chrono::hours> CacheSettings::ParseHours(std::string_view text)
{
    std::int64_t hours = 0;
    for (const char c : text) {
        if (c < '0' || c > '9')
            return std::nullopt;
        hours = hours * 10 + (c - '0');
        if (hours > LongestTrust.count())
            return std::nullopt;
    }
    if (text.empty())
        return std::nullopt;
    return std::chrono::hours(hours);
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
