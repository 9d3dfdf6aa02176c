#pragma once

#include <cstddef>
#include <string>

namespace zelkor {

// `count` letters and digits from the system's random source, each as likely
// as any other: the part of a temporary file's name that nobody can guess.
// Throws std::runtime_error when the system has no random source.
std::string RandomName(std::size_t count);

}  // namespace zelkor
