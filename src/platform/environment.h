#pragma once

#include <optional>
#include <string>

namespace zelkor {

// The value of the environment variable `name` as UTF-8, or nothing when it is
// not set (set and empty gives an empty string). On POSIX systems it is the
// bytes as set; on Windows it is read as UTF-16 from the process's environment
// and converted, since the narrow copy holds it in the system's code page, which
// cannot spell every name. Safe on any thread while nobody changes the
// environment.
std::optional<std::string> EnvironmentVariable(const char* name);

}  // namespace zelkor
