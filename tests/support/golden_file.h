#pragma once

#include <string>
#include <string_view>

namespace zelkor::testing {

// Compares `actual` byte for byte with the golden file tests/golden/`name` of the
// source tree and adds a test failure that shows both when they differ. With
// ZELKOR_UPDATE_GOLDEN=1 in the environment the golden file is rewritten with
// `actual` instead (review the change with git diff before committing it).
void ExpectMatchesGolden(std::string_view name, const std::string& actual);

}  // namespace zelkor::testing
