#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace zelkor {

// Lower-case hexadecimal, the one spelling of hashes and raw bytes in every
// message and report.

// The two digits of `byte`, appended to `out`.
void AppendHexByte(std::string& out, unsigned char byte);

// Two digits per byte, in order.
std::string HexBytes(std::string_view bytes);

// Eight digits, most significant first: 0x0A0FED0C gives "0a0fed0c".
std::string Hex32(std::uint32_t value);

// Sixteen digits, most significant first.
std::string Hex64(std::uint64_t value);

}  // namespace zelkor
