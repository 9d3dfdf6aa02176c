#pragma once

#include <sys/stat.h>

#include "platform/file.h"

namespace zelkor::posix {

// The status that stat(2) and its kin report, in the platform layer's terms.
FileStatus StatusFrom(const struct stat& info);

}  // namespace zelkor::posix
