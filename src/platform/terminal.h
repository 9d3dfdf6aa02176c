#pragma once

#include <optional>
#include <string_view>

namespace zelkor {

// Standard error as a terminal, for a status line drawn on it. Safe on any thread.

// Whether standard error is a terminal (not a file, a pipe, or closed).
bool StandardErrorIsTerminal();

// The width in columns of the terminal at standard error, when it tells.
std::optional<unsigned> StandardErrorWidth();

// Writes all of `text` to standard error at once, past any stream buffer. False
// when that fails (a terminal that went away); what was written stays.
bool WriteStandardError(std::string_view text);

}  // namespace zelkor
