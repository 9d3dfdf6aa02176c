#include "support/golden_file.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

#include <gtest/gtest.h>

#include "support/temp_dir.h"

namespace zelkor::testing {

namespace fs = std::filesystem;

namespace {

bool UpdateRequested()
{
    const char* update = std::getenv("ZELKOR_UPDATE_GOLDEN");
    return update && *update && std::string_view(update) != "0";
}

}  // namespace

void ExpectMatchesGolden(std::string_view name, const std::string& actual)
{
    const fs::path golden = fs::path(ZELKOR_SOURCE_DIR) / "tests" / "golden" / name;
    if (UpdateRequested()) {
        fs::create_directories(golden.parent_path());
        WriteFile(golden, actual);
        return;
    }
    std::ifstream in(golden, std::ios::binary);
    if (!in) {
        ADD_FAILURE() << "no golden file " << golden << " (run with ZELKOR_UPDATE_GOLDEN=1 to create it)";
        return;
    }
    const std::string expected{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    EXPECT_EQ(actual, expected) << "differs from " << golden
                                << " (run with ZELKOR_UPDATE_GOLDEN=1 to accept the new output)";
}

}  // namespace zelkor::testing
