#include "report/page_numbers.h"

#include <cstdio>
#include <iterator>

namespace zelkor::page_numbers {

std::string Format(const char* format, double value)
{
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

std::string Bytes(std::uint64_t bytes)
{
    if (bytes < 1024)
        return std::to_string(bytes) + " B";
    const char* units[] = {"KiB", "MiB", "GiB", "TiB"};
    double value = static_cast<double>(bytes) / 1024;
    std::size_t unit = 0;
    while (value >= 1024 && unit + 1 < std::size(units)) {
        value /= 1024;
        ++unit;
    }
    return Format("%.1f ", value) + units[unit];
}

std::string Count(std::uint64_t count)
{
    const std::string digits = std::to_string(count);
    std::string grouped;
    for (std::size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0)
            grouped += ',';
        grouped += digits[i];
    }
    return grouped;
}

double Ratio(std::uint64_t part, std::uint64_t whole)
{
    return whole == 0 ? 0 : static_cast<double>(part) / static_cast<double>(whole);
}

std::string Percent(std::uint64_t part, std::uint64_t whole)
{
    return whole == 0 ? "\xE2\x80\x93" : Format("%.1f%%", 100 * Ratio(part, whole));
}

std::string Files(std::uint64_t files)
{
    return Count(files) + (files == 1 ? " file" : " files");
}

std::string NumberCell(const std::string& value, const std::string& shown)
{
    return "<td class=\"n\" data-value=\"" + value + "\">" + shown + "</td>";
}

std::string BytesCell(std::uint64_t bytes)
{
    return NumberCell(std::to_string(bytes), Bytes(bytes));
}

std::string RatioCell(std::uint64_t stored, std::uint64_t raw)
{
    return NumberCell(raw == 0 ? "" : Format("%.6f", Ratio(stored, raw)), Percent(stored, raw));
}

}  // namespace zelkor::page_numbers
