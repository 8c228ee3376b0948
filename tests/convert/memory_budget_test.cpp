// The memory budget the workers share: a file waits for room, in turn, and
// one larger than the whole budget runs alone.

#include "convert/memory_budget.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

using namespace tamberlit;
using namespace std::chrono_literals;

TEST(MemoryBudget, AShareWaitsForRoomAndALargeOneRunsAlone) {
    TMemoryBudget budget(100);
    budget.Acquire(60);
    std::atomic<int> stage{0};
    // 50 does not fit beside 60; 30 would, but comes after it in turn.
    std::thread large([&] {
        budget.Acquire(50);
        stage = 1;
        budget.Acquire(0);
    });
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(stage.load(), 0);
    budget.Release(60);
    large.join();
    EXPECT_EQ(stage.load(), 1);
    EXPECT_EQ(budget.Held(), 50u);
    // More than the whole budget: once nothing else is held.
    std::thread huge([&] {
        budget.Acquire(500);
        stage = 2;
    });
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(stage.load(), 1);
    budget.Release(50);
    huge.join();
    EXPECT_EQ(budget.Held(), 500u);
    budget.Release(500);
}
