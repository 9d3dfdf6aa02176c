#include "remote/remote_url.h"

#include <algorithm>
#include <cctype>

#include "platform/ascii.h"

namespace zelkor {

namespace {

// The scheme's length with its "://" when it is http or https (any case), 0
// otherwise.
std::size_t SchemeLength(std::string_view text)
{
    for (const std::string_view scheme : {std::string_view("http://"), std::string_view("https://")}) {
        if (text.size() >= scheme.size() &&
            std::equal(scheme.begin(), scheme.end(), text.begin(),
                       [](char a, char b) { return a == AsciiLower(b); }))
            return scheme.size();
    }
    return 0;
}

// Where the credentials end (just past the last '@'), or 0 without any. A
// password may hold an unencoded '/', so the last '@' ends them wherever it
// stands; a path that holds an '@' writes it as %40.
std::size_t CredentialsEnd(std::string_view rest)
{
    const std::size_t at = rest.rfind('@');
    return at == std::string_view::npos ? 0 : at + 1;
}

// `credentials` as the client reads them between "//" and "@": every character
// that would end them early or be read as something else percent-encoded
// ('/' as %2F, an earlier '@' as %40); what was encoded already stays.
std::string Encoded(std::string_view credentials)
{
    static constexpr char Digits[] = "0123456789ABCDEF";
    std::string encoded;
    for (const char c : credentials) {
        const bool kept = std::isalnum(static_cast<unsigned char>(c)) ||
                          std::string_view("-._~!$&'()*+,;=:%").find(c) != std::string_view::npos;
        if (kept) {
            encoded += c;
        } else {
            const auto byte = static_cast<unsigned char>(c);
            encoded += '%';
            encoded += Digits[byte >> 4];
            encoded += Digits[byte & 15];
        }
    }
    return encoded;
}

}  // namespace

std::optional<RemoteUrl> RemoteUrl::Parse(std::string_view text)
{
    const std::size_t scheme = SchemeLength(text);
    if (scheme == 0)
        return std::nullopt;
    // Nothing that a request line or a header would read otherwise, and no query
    // or fragment, which the entry's path would land inside.
    if (std::any_of(text.begin(), text.end(), [](char c) {
            const auto byte = static_cast<unsigned char>(c);
            return byte <= 0x20 || byte == 0x7f || c == '?' || c == '#' || c == '\\';
        }))
        return std::nullopt;
    const std::string_view rest = text.substr(scheme);
    const std::size_t hostAt = CredentialsEnd(rest);
    const std::string_view afterCredentials = rest.substr(hostAt);
    const std::size_t slash = std::min(afterCredentials.find('/'), afterCredentials.size());
    const std::string_view host = afterCredentials.substr(0, slash);
    if (host.empty() || host.front() == ':')
        return std::nullopt;
    std::string_view path = afterCredentials.substr(slash);
    while (!path.empty() && path.back() == '/')
        path.remove_suffix(1);

    std::string base(text.substr(0, scheme));
    if (hostAt > 0)
        base.append(Encoded(rest.substr(0, hostAt - 1))).append("@");
    base.append(host).append(path);
    std::string shown(text.substr(0, scheme));
    shown = AsciiLowered(shown);
    shown.append(host).append(path);
    return RemoteUrl(std::move(base), std::move(shown));
}

std::string RemoteUrl::EntryUrl(const CacheKey& key) const
{
    const std::string hex = key.Hex();
    std::string url = base_;
    url.append("/").append(hex, 0, 2).append("/").append(hex);
    return url;
}

std::string RemoteUrl::ShownOf(std::string_view text)
{
    const std::size_t scheme = text.find("://");
    const std::size_t start = scheme == std::string_view::npos ? 0 : scheme + 3;
    const std::string_view rest = text.substr(start);
    std::string shown(text.substr(0, start));
    shown.append(rest.substr(CredentialsEnd(rest)));
    return shown;
}

}  // namespace zelkor
