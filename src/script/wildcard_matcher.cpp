#include "script/wildcard_matcher.h"

#include <algorithm>

namespace zelkor {

bool MatchWildcard(std::string_view text, std::string_view pattern)
{
    std::size_t t = 0;
    std::size_t p = 0;
    // Up to the first "*" every character must match in place.
    while (t < text.size() && (p == pattern.size() || pattern[p] != '*')) {
        if (p == pattern.size() || (pattern[p] != text[t] && pattern[p] != '?'))
            return false;
        ++t;
        ++p;
    }

    if (t < text.size()) {
        // Backtracking with one saved point, the most recent "*": on a mismatch the
        // pattern behind that "*" is tried again one text character further on.
        // A later "*" replaces the saved point, since whatever an earlier one
        // could still absorb the later one can absorb as well.
        std::size_t afterStar = p;
        std::size_t resume = t;
        while (t < text.size()) {
            if (p < pattern.size() && pattern[p] == '*') {
                if (++p == pattern.size())
                    return true;
                afterStar = p;
                resume = t + 1;
            } else if (p < pattern.size() && (pattern[p] == text[t] || pattern[p] == '?')) {
                ++p;
                ++t;
            } else {
                p = afterStar;
                t = resume++;
            }
        }
    }

    while (p < pattern.size() && pattern[p] == '*')
        ++p;
    return p == pattern.size();
}

bool MatchWildcard(const char* text, const char* pattern)
{
    return MatchWildcard(std::string_view(text), std::string_view(pattern));
}

std::vector<bool> ApplyIgnorePatterns(std::vector<std::string>& paths, const std::vector<std::string>& patterns)
{
    std::vector<bool> used(patterns.size());
    std::erase_if(paths, [&](const std::string& path) {
        bool removed = false;
        // Once a path is removed, only patterns that have matched nothing yet
        // need to be tried on it.
        for (std::size_t k = 0; k < patterns.size(); ++k) {
            if ((!removed || !used[k]) && MatchWildcard(path, patterns[k])) {
                used[k] = true;
                removed = true;
            }
        }
        return removed;
    });
    return used;
}

}  // namespace zelkor
