#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace zelkor {

// UTF-8 as archived names may or may not be: strict, with no overlong forms, no
// surrogates, nothing above U+10FFFF.

// The length of the valid UTF-8 sequence at the start of `bytes`, or 0 when it
// does not start with one (or is empty).
std::size_t Utf8SequenceLength(std::string_view bytes);

bool IsValidUtf8(std::string_view bytes);

// The length of `bytes` without the UTF-8 sequence cut short at its end, if
// any: a lead byte followed by fewer continuation bytes than it announces,
// which bytes still to come may complete. Anything else counts whole.
std::size_t Utf8FinishedLength(std::string_view bytes);

// `bytes` with every byte that is not part of a valid sequence replaced by
// U+FFFD, one each.
std::string ReplaceInvalidUtf8(std::string_view bytes);

// `bytes` as a terminal may show them: C0 controls, DEL and C1 controls (U+0080
// to U+009F, as UTF-8 or as single bytes of text that is not UTF-8), and the
// bidirectional formatting characters (U+061C, U+200E, U+200F, U+202A to
// U+202E, U+2066 to U+2069) written as \xNN, one per byte, so that no name can
// move the cursor, retitle the window, or show its characters in another order
// (`docs/\u202Efdp.exe` as `docs/exe.pdf`). A NUL is written as \0 with
// `nulAsZero`, as \x00 without.
std::string ShowControls(std::string_view bytes, bool nulAsZero);

}  // namespace zelkor
