#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "store/cache_key.h"

namespace zelkor {

// The base URL of a remote compression cache (ZELKOR_REMOTE_CACHE): http:// or
// https://, a host, an optional port and path prefix, optional `user:password@`
// credentials. Entries live at BASE/XX/KEY, as in a local cache directory.
//
// The credentials run to the last '@', so a password may hold a '/' or an '@'
// as it is (the client gets them percent-encoded); an '@' in the path is
// written %40. They stay inside: Shown() is the URL without them, the only form
// that goes into messages and records.
class RemoteUrl {
public:
    // Nothing for text that is not such a URL: another scheme, no host, a query
    // or fragment, spaces or control characters.
    static std::optional<RemoteUrl> Parse(std::string_view text);

    // The URL of the entry under `key`, credentials included, for the client.
    std::string EntryUrl(const CacheKey& key) const;
    // The URL without credentials (and without a trailing slash).
    const std::string& Shown() const { return shown_; }

    // Credentials are never shown, whatever was given: what is left of text that
    // does not parse, for its warning (everything after the scheme up to the
    // last '@' dropped).
    static std::string ShownOf(std::string_view text);

private:
    RemoteUrl(std::string base, std::string shown) : base_(std::move(base)), shown_(std::move(shown)) {}

    std::string base_;   // with credentials, no trailing slash
    std::string shown_;
};

}  // namespace zelkor
