#pragma once

#include <string>
#include <string_view>

namespace zelkor::win32 {

// Text at the boundary with the system: the tools hold UTF-8, the wide
// functions take UTF-16. Bytes that are not UTF-8 become U+FFFD, and unpaired
// surrogates from the system become U+FFFD too, so that a conversion never fails.
std::wstring Wide(std::string_view utf8);
std::string Narrow(std::wstring_view utf16);

// `path` as the wide functions take it: both separators turned into
// backslashes, and a path too long for the classic limit made absolute and
// given the \\?\ prefix (\\?\UNC\ for a \\server\share path), which lifts it.
std::wstring WidePath(const std::string& path);

// A path the system gave, with a \\?\ or \\?\UNC\ prefix taken off and
// backslashes turned into slashes, as the rest of the tools write paths.
std::string ToolPath(std::wstring_view systemPath);

}  // namespace zelkor::win32
