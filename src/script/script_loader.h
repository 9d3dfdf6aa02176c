#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include <boost/property_tree/ptree.hpp>

namespace zelkor {

// Reads a script file into a property tree.
//
// The tree has the shape that the rest of the system walks: one child per element,
// keyed by the element's name, in document order; attributes as children of a single
// "<xmlattr>" child; comments as "<xmlcomment>" children; the character data and
// CDATA sections directly inside an element appended to its value. A run of
// character data that is only white space is dropped, any other run is kept whole
// (no trimming). References are decoded; CDATA content is taken verbatim. A UTF-8
// byte-order mark, the XML declaration, document types and processing instructions
// leave no trace. CR LF line ends read as LF, so a script saved on Windows behaves
// exactly like the same script with LF line ends. Each element also records the
// lines of its name and attributes (see vocabulary::LinesKey), for messages.
//
// Failures throw boost::property_tree::xml_parser::xml_parser_error, whose text is
// the path, "(line)" when a line is known, ": " and the message ("cannot open file",
// "read error", "script too large", or the parser's own message such as
// "expected <").
class ScriptLoader {
public:
    // Scripts are read whole; one that has not ended by then is "script too large".
    static constexpr std::uint64_t MaxScriptSize = std::uint64_t{1} << 30;

    // Loads the file at `path` into `tree`. `tree` is replaced only on success; on
    // failure it keeps its previous content.
    static void Load(const std::string& path, boost::property_tree::ptree& tree);

    // Parses `text`, the bytes of a script; `name` is the path shown in messages.
    static void Parse(std::string text, const std::string& name,
                      boost::property_tree::ptree& tree);

    // Where an element of a loaded tree stands in its script: for `item` 0 the
    // line of the element's name, for item k that of its k-th attribute. Nothing
    // for an element that was not loaded from a script (a tree built in code).
    static std::optional<unsigned long> Line(const boost::property_tree::ptree& element, std::size_t item);
};

}  // namespace zelkor
