// Values that repeat, found within a budget whatever their number and spread.
#include "inspect/repeated_hashes.h"

#include <algorithm>
#include <random>

#include <gtest/gtest.h>

namespace zelkor {
namespace {

using Values = std::vector<std::uint32_t>;

// The repeated values the plain way.
Values Expected(Values values)
{
    std::sort(values.begin(), values.end());
    Values repeated;
    for (std::size_t i = 1; i < values.size(); ++i) {
        if (values[i] == values[i - 1] && (repeated.empty() || repeated.back() != values[i]))
            repeated.push_back(values[i]);
    }
    return repeated;
}

TEST(RepeatedHashesTest, AgreesWithSortingEverythingWithinItsBudget)
{
    std::mt19937 random(5);
    Values spread(5000);
    for (std::uint32_t& value : spread)
        value = static_cast<std::uint32_t>(random());
    for (std::size_t i = 0; i < 300; ++i)
        spread[random() % spread.size()] = spread[random() % spread.size()];
    Values crowded(5000);  // every value in a narrow range, many repeated
    for (std::uint32_t& value : crowded)
        value = 1000 + random() % 3000;
    Values extremes = {0, 0xFFFFFFFF, 0, 7, 0xFFFFFFFF, 0xFFFFFFFE};

    const struct {
        const char* what;
        Values values;
    } cases[] = {
        {"none", {}},
        {"all different", {1, 2, 3, 4}},
        {"spread", spread},
        {"crowded", crowded},
        {"one value", Values(5000, 42)},
        {"extremes", extremes},
    };
    for (const auto& c : cases) {
        for (const std::size_t budget : {std::size_t{8}, std::size_t{64}, std::size_t{100000}}) {
            std::size_t passes = 0;
            const HashPass pass = [&](const std::function<void(std::uint32_t)>& take) {
                ++passes;
                for (const std::uint32_t value : c.values)
                    take(value);
            };
            EXPECT_EQ(RepeatedHashes(pass, c.values.size(), budget), Expected(c.values))
                << c.what << ", budget " << budget;
            if (budget >= c.values.size()) {
                EXPECT_EQ(passes, 1u) << c.what;
            }
        }
    }
}

}  // namespace
}  // namespace zelkor
