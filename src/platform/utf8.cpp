#include "platform/utf8.h"

#include <algorithm>

#include "platform/hex.h"

namespace zelkor {

std::size_t Utf8SequenceLength(std::string_view bytes)
{
    if (bytes.empty())
        return 0;
    const auto at = [&](std::size_t i) { return static_cast<unsigned char>(bytes[i]); };
    const unsigned char lead = at(0);
    if (lead < 0x80)
        return 1;
    // The ranges are those of Unicode's table of well-formed byte sequences.
    std::size_t length = 0;
    unsigned char low = 0x80;
    unsigned char high = 0xBF;  // the second byte's range; later bytes are always 80..BF
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0)
            low = 0xA0;  // overlong
        if (lead == 0xED)
            high = 0x9F;  // surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0)
            low = 0x90;  // overlong
        if (lead == 0xF4)
            high = 0x8F;  // above U+10FFFF
    } else {
        return 0;
    }
    if (bytes.size() < length || at(1) < low || at(1) > high)
        return 0;
    for (std::size_t i = 2; i < length; ++i) {
        if (at(i) < 0x80 || at(i) > 0xBF)
            return 0;
    }
    return length;
}

bool IsValidUtf8(std::string_view bytes)
{
    for (std::size_t i = 0; i < bytes.size();) {
        const std::size_t length = Utf8SequenceLength(bytes.substr(i));
        if (length == 0)
            return false;
        i += length;
    }
    return true;
}

std::size_t Utf8FinishedLength(std::string_view bytes)
{
    // A sequence is at most four bytes: its lead is among the last three.
    for (std::size_t back = 1; back <= std::min<std::size_t>(3, bytes.size()); ++back) {
        const auto byte = static_cast<unsigned char>(bytes[bytes.size() - back]);
        if (byte < 0x80 || byte >= 0xF8)
            break;
        if (byte >= 0xC0) {
            const std::size_t announced = byte >= 0xF0 ? 4 : byte >= 0xE0 ? 3 : 2;
            return announced > back ? bytes.size() - back : bytes.size();
        }
    }
    return bytes.size();
}

std::string ReplaceInvalidUtf8(std::string_view bytes)
{
    std::string text;
    text.reserve(bytes.size());
    for (std::size_t i = 0; i < bytes.size();) {
        const std::size_t length = Utf8SequenceLength(bytes.substr(i));
        if (length == 0) {
            text += "\xEF\xBF\xBD";
            ++i;
        } else {
            text.append(bytes.substr(i, length));
            i += length;
        }
    }
    return text;
}

namespace {

// Whether the valid UTF-8 sequence `character` is a bidirectional formatting
// character: a mark or an embedding, override or isolate and their end.
bool IsBidiControl(std::string_view character)
{
    const auto at = [&](std::size_t i) { return static_cast<unsigned char>(character[i]); };
    if (character.size() == 2)
        return at(0) == 0xD8 && at(1) == 0x9C;  // U+061C
    if (character.size() != 3 || at(0) != 0xE2)
        return false;
    if (at(1) == 0x80)
        return at(2) == 0x8E || at(2) == 0x8F || (at(2) >= 0xAA && at(2) <= 0xAE);  // U+200E, U+200F, U+202A-E
    return at(1) == 0x81 && at(2) >= 0xA6 && at(2) <= 0xA9;                         // U+2066-9
}

}  // namespace

std::string ShowControls(std::string_view bytes, bool nulAsZero)
{
    std::string shown;
    shown.reserve(bytes.size());
    for (std::size_t i = 0; i < bytes.size();) {
        const auto byte = static_cast<unsigned char>(bytes[i]);
        const std::size_t length = std::max<std::size_t>(Utf8SequenceLength(bytes.substr(i)), 1);
        const bool c1 = length == 2 ? byte == 0xC2 && static_cast<unsigned char>(bytes[i + 1]) <= 0x9F
                                    : byte >= 0x80 && byte <= 0x9F;
        if (byte == 0 && nulAsZero) {
            shown += "\\0";
        } else if (byte < 0x20 || byte == 0x7F || c1 || IsBidiControl(bytes.substr(i, length))) {
            for (std::size_t k = 0; k < length; ++k) {
                shown += "\\x";
                AppendHexByte(shown, static_cast<unsigned char>(bytes[i + k]));
            }
        } else {
            shown.append(bytes.substr(i, length));
        }
        i += length;
    }
    return shown;
}

}  // namespace zelkor
