#include "generate/wildcard_matcher.h"

#include <algorithm>

namespace zelkor {

bool MatchWildcard(const char* text, const char* pattern)
{
    // Up to the first "*" every character must match in place.
    while (*text && *pattern != '*') {
        if (*pattern != *text && *pattern != '?')
            return false;
        ++text;
        ++pattern;
    }

    if (*text) {
        // Backtracking with one saved point, the most recent "*": on a mismatch the
        // pattern behind that "*" is tried again one text character further on.
        // A later "*" replaces the saved point, since whatever an earlier one
        // could still absorb the later one can absorb as well.
        const char* afterStar = nullptr;
        const char* resume = nullptr;
        while (*text) {
            if (*pattern == '*') {
                if (!*++pattern)
                    return true;
                afterStar = pattern;
                resume = text + 1;
            } else if (*pattern == *text || *pattern == '?') {
                ++pattern;
                ++text;
            } else {
                pattern = afterStar;
                text = resume++;
            }
        }
    }

    while (*pattern == '*')
        ++pattern;
    return !*pattern;
}

void ApplyIgnorePatterns(std::vector<std::string>& paths, const std::vector<std::string>& patterns)
{
    std::erase_if(paths, [&](const std::string& path) {
        return std::any_of(patterns.begin(), patterns.end(), [&](const std::string& pattern) {
            return MatchWildcard(path.c_str(), pattern.c_str());
        });
    });
}

}  // namespace zelkor
