#pragma once

#include <cstdint>
#include <string>

namespace zelkor::page_numbers {

// How a report page spells numbers: for people (readable units, grouped
// digits, percentages) and, in its table cells, also exactly for programs.

// `value` through a printf format such as "%.1f".
std::string Format(const char* format, double value);
// 252 B, 12.1 KiB, 3.4 MiB, 1.2 GiB.
std::string Bytes(std::uint64_t bytes);
// 1,234,567
std::string Count(std::uint64_t count);
// part / whole, 0 when whole is 0.
double Ratio(std::uint64_t part, std::uint64_t whole);
// 12.5%, or a dash when whole is 0.
std::string Percent(std::uint64_t part, std::uint64_t whole);
// "1 file", "1,234 files".
std::string Files(std::uint64_t files);
// One cell of a number: the exact value for programs, a readable one for people.
std::string NumberCell(const std::string& value, const std::string& shown);
std::string BytesCell(std::uint64_t bytes);
std::string RatioCell(std::uint64_t stored, std::uint64_t raw);

}  // namespace zelkor::page_numbers
