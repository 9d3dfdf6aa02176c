// MatchWildcard against a plain recursive matcher: they must agree everywhere.
// The input is the pattern, a NUL byte, then the text, which may hold further
// NUL bytes (the NUL-terminated form sees the text up to the first).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "script/wildcard_matcher.h"

namespace {

// The rules stated directly: '*' any run, '?' one character, anything else itself.
// Memoised, so that patterns with many stars stay polynomial.
bool Reference(const std::string& text, const std::string& pattern, std::size_t t, std::size_t p,
               std::vector<signed char>& memo)
{
    signed char& known = memo[t * (pattern.size() + 1) + p];
    if (known >= 0)
        return known;
    bool result;
    if (p == pattern.size())
        result = t == text.size();
    else if (pattern[p] == '*')
        result = Reference(text, pattern, t, p + 1, memo) ||
                 (t < text.size() && Reference(text, pattern, t + 1, p, memo));
    else
        result = t < text.size() && (pattern[p] == '?' || pattern[p] == text[t]) &&
                 Reference(text, pattern, t + 1, p + 1, memo);
    known = result;
    return result;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size > 4096)
        return 0;
    const std::string input(reinterpret_cast<const char*>(data), size);
    const std::size_t split = input.find('\0');
    if (split == std::string::npos)
        return 0;
    const std::string pattern = input.substr(0, split);
    const std::string text = input.substr(split + 1);
    for (const std::string& seen : {text, std::string(text.c_str())}) {
        std::vector<signed char> memo((seen.size() + 1) * (pattern.size() + 1), -1);
        const bool expected = Reference(seen, pattern, 0, 0, memo);
        if (zelkor::MatchWildcard(std::string_view(seen), std::string_view(pattern)) != expected)
            std::abort();
        if (seen.size() == std::strlen(seen.c_str()) &&
            zelkor::MatchWildcard(seen.c_str(), pattern.c_str()) != expected)
            std::abort();
    }
    return 0;
}
