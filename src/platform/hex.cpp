#include "platform/hex.h"

namespace zelkor {

namespace {

constexpr char HexDigits[] = "0123456789abcdef";

}  // namespace

void AppendHexByte(std::string& out, unsigned char byte)
{
    out += HexDigits[byte >> 4];
    out += HexDigits[byte & 0xF];
}

std::string HexBytes(std::string_view bytes)
{
    std::string hex;
    hex.reserve(bytes.size() * 2);
    for (const char c : bytes)
        AppendHexByte(hex, static_cast<unsigned char>(c));
    return hex;
}

std::string Hex32(std::uint32_t value)
{
    std::string hex;
    hex.reserve(8);
    for (int shift = 24; shift >= 0; shift -= 8)
        AppendHexByte(hex, static_cast<unsigned char>(value >> shift));
    return hex;
}

std::string Hex64(std::uint64_t value)
{
    return Hex32(static_cast<std::uint32_t>(value >> 32)) + Hex32(static_cast<std::uint32_t>(value));
}

}  // namespace zelkor
