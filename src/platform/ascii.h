#pragma once

#include <string>
#include <string_view>

namespace zelkor {

// Letter case of ASCII alone, the same in every locale: names, extensions and
// URL schemes fold their A-Z and a-z, and leave every other byte as it is.

constexpr char AsciiLower(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c + ('a' - 'A')) : c;
}

constexpr char AsciiUpper(char c)
{
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - ('a' - 'A')) : c;
}

inline std::string AsciiLowered(std::string_view text)
{
    std::string lowered(text);
    for (char& c : lowered)
        c = AsciiLower(c);
    return lowered;
}

inline std::string AsciiUppered(std::string_view text)
{
    std::string uppered(text);
    for (char& c : uppered)
        c = AsciiUpper(c);
    return uppered;
}

}  // namespace zelkor
