#include "inspect/extract_path.h"

#include "platform/ascii.h"

namespace zelkor {

namespace {

bool IsSeparator(char c)
{
    return c == '/' || c == '\\';
}

bool IsLetter(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

// Why `name` must not be written, judged on the name as a whole; empty when
// nothing speaks against it.
std::string_view RefusalOfWholeName(std::string_view name)
{
    if (name.empty())
        return "the name is empty";
    if (name.find('\0') != std::string_view::npos)
        return "the name holds a NUL byte";
    if (IsSeparator(name.front()))
        return "the name is absolute";
    if (name.size() >= 2 && IsLetter(name[0]) && name[1] == ':')
        return "the name has a drive prefix";
    if (IsSeparator(name.back()))
        return "the name ends in a separator";
    return {};
}

}  // namespace

std::string_view ExtractPath::WindowsRefusal(std::string_view component)
{
    // The device names count before the first dot, with spaces before it
    // dropped, as Windows reads them ("con .txt" is the console too).
    std::string_view base = component.substr(0, component.find('.'));
    while (!base.empty() && base.back() == ' ')
        base.remove_suffix(1);
    const std::string folded = AsciiLowered(base);
    static constexpr std::string_view Devices[] = {"con", "prn", "aux", "nul"};
    bool device = false;
    for (const std::string_view name : Devices)
        device = device || folded == name;
    if (folded.size() == 4 && (folded.rfind("com", 0) == 0 || folded.rfind("lpt", 0) == 0) && folded[3] >= '1' &&
        folded[3] <= '9')
        device = true;
    if (device)
        return "Windows reads the name as a device";
    if (component.find(':') != std::string_view::npos)
        return "Windows reads a colon in a name as a drive or a stream";
    if (!component.empty() && (component.back() == '.' || component.back() == ' '))
        return "Windows drops a dot or a space at the end of a name";
    for (const char c : component) {
        if (static_cast<unsigned char>(c) < 32 || std::string_view("<>\"|?*").find(c) != std::string_view::npos)
            return "Windows does not allow the character in a name";
    }
    return {};
}

std::string ExtractPath::FoldedCase(std::string_view relative)
{
    return FileNameInOneCase(relative);
}

ExtractPath ExtractPath::Parse(std::string_view name, bool windowsNames)
{
    ExtractPath path;
    if (const std::string_view refusal = RefusalOfWholeName(name); !refusal.empty()) {
        path.refusal_ = refusal;
        return path;
    }
    std::size_t start = 0;
    while (start <= name.size()) {
        std::size_t end = start;
        while (end < name.size() && !IsSeparator(name[end]))
            ++end;
        const std::string_view component = name.substr(start, end - start);
        if (component == "..") {
            path.components_.clear();
            path.refusal_ = "the name holds a \"..\" component";
            return path;
        }
        if (component == "." && end == name.size()) {
            path.components_.clear();
            path.refusal_ = "the name ends in a \".\" component";
            return path;
        }
        if (!component.empty() && component != ".")
            path.components_.emplace_back(component);
        start = end + 1;
    }
    if (path.components_.empty()) {
        path.refusal_ = "the name names no file";
    } else if (const std::string& first = path.components_.front();
               first.size() >= 2 && IsLetter(first[0]) && first[1] == ':') {
        // "./C:/x" would start with a drive once its "." is dropped.
        path.components_.clear();
        path.refusal_ = "the name has a drive prefix";
    } else if (windowsNames) {
        for (const std::string& component : path.components_) {
            if (const std::string_view refusal = WindowsRefusal(component); !refusal.empty()) {
                path.refusal_ = std::string(refusal) + " (" + component + ")";
                path.components_.clear();
                break;
            }
        }
    }
    return path;
}

std::string ExtractPath::Relative() const
{
    std::string relative;
    for (const std::string& component : components_) {
        if (!relative.empty())
            relative += '/';
        relative += component;
    }
    return relative;
}

}  // namespace zelkor
