// Any bytes as an archived name: ExtractPath either refuses it or yields
// components that cannot leave the extraction directory.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "inspect/extract_path.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view name(reinterpret_cast<const char*>(data), size);
    const zelkor::ExtractPath path = zelkor::ExtractPath::Parse(name);
    if (path.IsRefused()) {
        if (!path.Components().empty())
            std::abort();
        return 0;
    }
    if (path.Components().empty())
        std::abort();
    for (const std::string& component : path.Components()) {
        if (component.empty() || component == "." || component == ".." ||
            component.find_first_of(std::string_view("/\\\0", 3)) != std::string::npos)
            std::abort();
    }
    // A drive prefix (a letter and a colon) would make the path absolute on
    // systems that have drives.
    const std::string& first = path.Components().front();
    const char letter = static_cast<char>(first[0] | 0x20);
    if (first.size() >= 2 && first[1] == ':' && letter >= 'a' && letter <= 'z')
        std::abort();
    return 0;
}
