#include "report/html_text.h"

#include <algorithm>
#include <cstdint>

#include "platform/utf8.h"

namespace zelkor {

namespace {

constexpr std::string_view Ellipsis = "\xE2\x80\xA6";
constexpr std::string_view Replacement = "\xEF\xBF\xBD";

// The code point of a valid UTF-8 sequence of two to four bytes.
std::uint32_t CodePoint(std::string_view sequence)
{
    std::uint32_t point = static_cast<unsigned char>(sequence[0]) & (0x7F >> sequence.size());
    for (std::size_t i = 1; i < sequence.size(); ++i)
        point = (point << 6) | (static_cast<unsigned char>(sequence[i]) & 0x3F);
    return point;
}

// The page text of one character (a valid UTF-8 sequence).
std::string_view Escaped(std::string_view character)
{
    if (character.size() == 1) {
        switch (character[0]) {
        case '&': return "&amp;";
        case '<': return "&lt;";
        case '>': return "&gt;";
        case '"': return "&quot;";
        case '\'': return "&#39;";
        default: return character;
        }
    }
    // U+FDD0 to U+FDEF, and the last two code points of every plane, are
    // noncharacters, which HTML parsers report as errors.
    const std::uint32_t point = CodePoint(character);
    if ((point >= 0xFDD0 && point <= 0xFDEF) || (point & 0xFFFE) == 0xFFFE)
        return Replacement;
    return character;
}

}  // namespace

std::string HtmlEscape(std::string_view utf8)
{
    std::string out;
    out.reserve(utf8.size());
    for (const char c : utf8)
        out += Escaped(std::string_view(&c, 1));
    return out;
}

std::string HtmlName(std::string_view bytes, std::size_t limit)
{
    const std::string text = ReplaceInvalidUtf8(ShowControls(bytes, false));
    std::string out;
    std::size_t cut = 0;  // the longest whole-character prefix that leaves room for the ellipsis
    for (std::string_view rest = text; !rest.empty();) {
        const std::size_t length = std::max<std::size_t>(Utf8SequenceLength(rest), 1);
        const std::string_view piece = Escaped(rest.substr(0, length));
        rest.remove_prefix(length);
        if (out.size() + piece.size() > limit) {
            out.resize(cut);
            out += Ellipsis;
            return out;
        }
        out += piece;
        if (out.size() + Ellipsis.size() <= limit)
            cut = out.size();
    }
    return out;
}

}  // namespace zelkor
