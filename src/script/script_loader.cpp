#include "script/script_loader.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <optional>
#include <vector>

#include <boost/property_tree/detail/rapidxml.hpp>
#include <boost/property_tree/detail/xml_parser_error.hpp>

#include "platform/file.h"
#include "script/script_vocabulary.h"

namespace zelkor {

namespace pt = boost::property_tree;
namespace rapidxml = boost::property_tree::detail::rapidxml;

namespace {

using Node = rapidxml::xml_node<char>;

[[noreturn]] void Fail(const std::string& message, const std::string& path, unsigned long line)
{
    throw pt::xml_parser::xml_parser_error(message, path, line);
}

// Reads the whole file. Pipes and other streams are read until their end, so a
// script can come from process substitution; a directory is not a script, and
// neither is a stream that does not end within MaxScriptSize (/dev/zero).
std::string ReadScriptFile(const std::string& path)
{
    if (path.empty())
        Fail("cannot open file", path, 0);
    File file = File::Open(path, OpenFlags::Read);
    if (!file.IsOpen())
        Fail("cannot open file", path, 0);
    const std::optional<FileStatus> status = file.Status();
    if (!status || status->IsDirectory())
        Fail("cannot open file", path, 0);

    std::string text;
    if (status->IsRegular() && status->size > ScriptLoader::MaxScriptSize)
        Fail("script too large", path, 0);
    if (status->IsRegular() && status->size > 0)
        text.reserve(static_cast<std::size_t>(status->size));
    char chunk[65536];
    for (;;) {
        std::optional<std::size_t> got = file.ReadUpTo(chunk, sizeof chunk);
        if (!got)
            Fail("read error", path, 0);
        if (text.size() + *got > ScriptLoader::MaxScriptSize)
            Fail("script too large", path, 0);
        text.append(chunk, *got);
        if (*got < sizeof chunk)
            return text;
    }
}

// CR LF becomes LF; a lone CR stays. The number of LFs, and so every line number,
// is unchanged.
void FoldLineEnds(std::string& text)
{
    auto out = text.begin();
    for (auto in = text.begin(); in != text.end(); ++in) {
        if (*in == '\r' && in + 1 != text.end() && *(in + 1) == '\n')
            continue;
        *out++ = *in;
    }
    text.erase(out, text.end());
}

bool IsWhiteSpaceOnly(const char* data, std::size_t size)
{
    return std::all_of(data, data + size, [](char c) {
        return c == ' ' || c == '\t' || c == '\n' || c == '\r';
    });
}

// The parser and the tree walk both recurse once per level of nesting, so a
// hostile script of a few hundred kilobytes of "<a>" would overflow the stack.
// Real scripts nest three or four levels; anything deeper than this is refused
// before parsing.
constexpr std::size_t MaxNesting = 256;

// Skips from `at` past the next occurrence of `terminator`; to the end when none.
std::size_t SkipPast(const std::string& text, std::size_t at, const char* terminator)
{
    const std::size_t found = text.find(terminator, at);
    return found == std::string::npos ? text.size() : found + std::strlen(terminator);
}

// Follows the markup just far enough to know how deeply elements are open at
// every point: comments, CDATA sections, processing instructions and document
// types are passed over, quoted attribute values are honoured, self-closing tags
// open nothing.
void CheckNesting(const std::string& text, const std::string& name)
{
    std::size_t depth = 0;
    std::size_t at = 0;
    while ((at = text.find('<', at)) != std::string::npos) {
        const std::size_t start = at;
        if (text.compare(at, 4, "<!--") == 0) {
            at = SkipPast(text, at + 4, "-->");
        } else if (text.compare(at, 9, "<![CDATA[") == 0) {
            at = SkipPast(text, at + 9, "]]>");
        } else if (text.compare(at, 2, "<?") == 0) {
            at = SkipPast(text, at + 2, "?>");
        } else if (text.compare(at, 2, "<!") == 0) {
            at = SkipPast(text, at + 2, ">");
        } else if (text.compare(at, 2, "</") == 0) {
            at = SkipPast(text, at + 2, ">");
            if (depth > 0)
                --depth;
        } else {
            char quote = 0;
            bool selfClosing = false;
            for (++at; at < text.size(); ++at) {
                const char c = text[at];
                if (quote) {
                    if (c == quote)
                        quote = 0;
                } else if (c == '"' || c == '\'') {
                    quote = c;
                } else if (c == '>') {
                    selfClosing = text[at - 1] == '/';
                    ++at;
                    break;
                }
            }
            if (!selfClosing && ++depth > MaxNesting) {
                auto line = static_cast<unsigned long>(
                                std::count(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(start), '\n')) +
                            1;
                Fail("elements nested more than " + std::to_string(MaxNesting) + " levels deep",
                     name, line);
            }
        }
    }
}

// The line of any position in the text, from the offsets of its line feeds. The
// parser decodes references in place, which moves line feeds within the buffer,
// so lines are counted on the text as it was before parsing.
class LineTable {
public:
    explicit LineTable(const std::string& text)
    {
        for (std::size_t at = text.find('\n'); at != std::string::npos; at = text.find('\n', at + 1))
            feeds_.push_back(at);
    }

    unsigned long LineAt(std::size_t offset) const
    {
        return static_cast<unsigned long>(std::lower_bound(feeds_.begin(), feeds_.end(), offset) - feeds_.begin()) +
               1;
    }

private:
    std::vector<std::size_t> feeds_;
};

struct TreeBuilder {
    const char* text;
    const LineTable& lines;

    std::string LineOf(const char* name) const
    {
        return std::to_string(lines.LineAt(static_cast<std::size_t>(name - text)));
    }

    void Append(const Node* node, pt::ptree& parent) const;
};

void TreeBuilder::Append(const Node* node, pt::ptree& parent) const
{
    switch (node->type()) {
    case rapidxml::node_element: {
        pt::ptree& element =
            parent.push_back(std::make_pair(std::string(node->name(), node->name_size()),
                                            pt::ptree()))->second;
        std::string lines = LineOf(node->name());
        if (node->first_attribute()) {
            pt::ptree& attributes =
                element.push_back(std::make_pair(std::string(vocabulary::AttributesKey),
                                                 pt::ptree()))->second;
            for (auto* attr = node->first_attribute(); attr; attr = attr->next_attribute()) {
                attributes.push_back(std::make_pair(
                    std::string(attr->name(), attr->name_size()),
                    pt::ptree(std::string(attr->value(), attr->value_size()))));
                lines += ' ';
                lines += LineOf(attr->name());
            }
            // Every node of the tree costs a few hundred bytes, so the lines go
            // where no node has to be added for them.
            attributes.data() = std::move(lines);
        } else {
            element.push_back(std::make_pair(std::string(vocabulary::LinesKey), pt::ptree(std::move(lines))));
        }
        for (const Node* child = node->first_node(); child; child = child->next_sibling())
            Append(child, element);
        break;
    }
    case rapidxml::node_data:
        // Layout white space between tags is not text.
        if (!IsWhiteSpaceOnly(node->value(), node->value_size()))
            parent.data().append(node->value(), node->value_size());
        break;
    case rapidxml::node_cdata:
        parent.data().append(node->value(), node->value_size());
        break;
    case rapidxml::node_comment:
        parent.push_back(std::make_pair(std::string(vocabulary::CommentKey),
                                        pt::ptree(std::string(node->value(), node->value_size()))));
        break;
    default:
        break;
    }
}

}  // namespace

void ScriptLoader::Load(const std::string& path, pt::ptree& tree)
{
    Parse(ReadScriptFile(path), path, tree);
}

void ScriptLoader::Parse(std::string text, const std::string& name, pt::ptree& tree)
{
    FoldLineEnds(text);
    CheckNesting(text, name);
    const LineTable lines(text);
    text.push_back('\0');  // the parser works in place on a terminated buffer
    try {
        rapidxml::xml_document<char> document;
        document.parse<rapidxml::parse_comment_nodes>(text.data());
        pt::ptree local;
        const TreeBuilder builder{text.data(), lines};
        for (const Node* child = document.first_node(); child; child = child->next_sibling())
            builder.Append(child, local);
        tree.swap(local);
    } catch (const rapidxml::parse_error& error) {
        Fail(error.what(), name, lines.LineAt(static_cast<std::size_t>(error.where<char>() - text.data())));
    }
}

std::optional<unsigned long> ScriptLoader::Line(const pt::ptree& element, std::size_t item)
{
    const std::string* lines = nullptr;
    if (auto attributes = element.get_child_optional(pt::ptree::path_type(std::string(vocabulary::AttributesKey))))
        lines = &attributes->data();
    else if (auto own = element.get_child_optional(pt::ptree::path_type(std::string(vocabulary::LinesKey))))
        lines = &own->data();
    if (!lines)
        return std::nullopt;

    const char* at = lines->data();
    const char* end = at + lines->size();
    for (std::size_t i = 0;; ++i) {
        unsigned long line = 0;
        const auto [next, error] = std::from_chars(at, end, line);
        if (error != std::errc())
            return std::nullopt;
        if (i == item)
            return line;
        if (next == end || *next != ' ')
            return std::nullopt;
        at = next + 1;
    }
}

}  // namespace zelkor
