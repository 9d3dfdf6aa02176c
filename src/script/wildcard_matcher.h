#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace zelkor {

// The ignore patterns of a generate command, matched against the relative paths
// of scanned files.
//
// True when `pattern` matches the whole of `text`: "*" matches any run of
// characters, "/" included, "?" exactly one character, every other character
// only itself (case-sensitive; there is no escape character). Every byte counts,
// a NUL included.
bool MatchWildcard(std::string_view text, std::string_view pattern);
// The same for NUL-terminated strings.
bool MatchWildcard(const char* text, const char* pattern);

// Removes from `paths` every path that at least one of `patterns` matches; the
// others keep their order. Element k of the result tells whether pattern k
// matched any path (a pattern that matches only paths an earlier one removed
// still counts).
std::vector<bool> ApplyIgnorePatterns(std::vector<std::string>& paths, const std::vector<std::string>& patterns);

}  // namespace zelkor
