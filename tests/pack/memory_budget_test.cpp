// MemoryBudget: reservations fit beside each other or wait, one larger than
// the whole budget runs alone, and every byte comes back.
#include <atomic>
#include <thread>

#include <gtest/gtest.h>

#include "pack/memory_budget.h"

namespace zelkor {
namespace {

TEST(MemoryBudgetTest, ReservationsFitOrAreRefusedWithoutWaiting)
{
    MemoryBudget budget(100);
    MemoryBudget::Reservation a = budget.Reserve(60, false);
    ASSERT_TRUE(a);
    EXPECT_FALSE(budget.Reserve(41, false));
    MemoryBudget::Reservation b = budget.Reserve(40, false);
    ASSERT_TRUE(b);
    EXPECT_FALSE(budget.Reserve(1, false));
    EXPECT_TRUE(budget.Reserve(0, false));
    a.Release();
    MemoryBudget::Reservation c = budget.Reserve(60, false);
    EXPECT_TRUE(c);
    EXPECT_EQ(budget.Peak(), 100u);
    // Moved, a reservation gives its bytes back once.
    MemoryBudget::Reservation moved = std::move(c);
    moved = budget.Reserve(0, false);
    b = MemoryBudget::Reservation();
    EXPECT_TRUE(budget.Reserve(100, false));
}

TEST(MemoryBudgetTest, MoreThanTheWholeBudgetRunsAloneOnceNothingElseIsReserved)
{
    MemoryBudget budget(100);
    EXPECT_TRUE(budget.Reserve(500, false));  // nothing else reserved: admitted alone
    MemoryBudget::Reservation small = budget.Reserve(10, false);
    ASSERT_TRUE(small);
    EXPECT_FALSE(budget.Reserve(500, false));

    // A waiter gets its turn when the last holder lets go, and then holds
    // everything: nothing else fits beside it.
    std::atomic<bool> reserved{false};
    MemoryBudget::Reservation large;
    std::thread waiter([&] {
        large = budget.Reserve(500, true);
        reserved = true;
    });
    EXPECT_FALSE(reserved.load());
    small.Release();
    waiter.join();
    EXPECT_TRUE(reserved.load());
    EXPECT_FALSE(budget.Reserve(1, false));
    EXPECT_EQ(budget.Peak(), 500u);
}

}  // namespace
}  // namespace zelkor
