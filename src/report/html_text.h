#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace zelkor {

// Text for an HTML page, safe in element content and in quoted attribute
// values alike.

// `utf8` with &, <, >, " and ' written as character references. The text must
// already be valid UTF-8 free of controls (see HtmlName for names).
std::string HtmlEscape(std::string_view utf8);

// An archived name (or any path) as page text: control characters shown as
// \xNN (as in the tool's other output), bytes outside UTF-8 sequences and
// Unicode noncharacters as U+FFFD, which leaves nothing an HTML parser rejects,
// then escaped. At most `limit` bytes of page text (and at least the ellipsis):
// a longer name is cut at a character and ends in "…", so that no name, however
// long or however many references it needs, makes a page heavy.
std::string HtmlName(std::string_view bytes, std::size_t limit);

}  // namespace zelkor
