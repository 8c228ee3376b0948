// The yardstick of the hostile-file tests: what it measures must be what a
// reader really costs, or every bound checked with it means nothing.

#include <gtest/gtest.h>
#include <sys/mman.h>

#include <cstring>
#include <stdexcept>
#include <thread>

#include "tests/hostile/hostile_support.hpp"

using namespace tamberlit::testing::hostile;

TEST(HostileMeasure, SeesMemoryTouchedAndTimeTakenEvenWhenTheCallThrows) {
    TCost cost;
    EXPECT_THROW(Measure(
                     [] {
                         std::vector<uint8_t> block(size_t{96} << 20);
                         std::memset(block.data(), 1, block.size());
                         std::this_thread::sleep_for(std::chrono::milliseconds(50));
                         if (block[12345] == 1) throw std::runtime_error("after the work");
                     },
                     cost),
                 std::runtime_error);
    EXPECT_GE(cost.Seconds, 0.05);
    if (!cost.PeakMeasured) GTEST_SKIP() << "the kernel cannot reset the peak resident set here";
    EXPECT_GE(cost.PeakGrowthBytes, int64_t{90} << 20);
    EXPECT_GT(cost.PeakGrowthBytes, int64_t{64} << 20);  // what an ordinary build's bound catches
}

// Memory mapped but never touched costs nothing: the readers' zero-filled
// pictures of files that end early rely on it.
TEST(HostileMeasure, MemoryNeverTouchedIsNotCounted) {
    TCost cost;
    Measure(
        [] {
            const size_t bytes = size_t{256} << 20;
            void* block = ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
            ASSERT_NE(block, MAP_FAILED);
            static_cast<uint8_t*>(block)[0] = 1;
            ::munmap(block, bytes);
        },
        cost);
    if (!cost.PeakMeasured) GTEST_SKIP() << "the kernel cannot reset the peak resident set here";
    EXPECT_LT(cost.PeakGrowthBytes, int64_t{8} << 20);
}
