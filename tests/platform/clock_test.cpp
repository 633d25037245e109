#include "platform/clock.h"

#include <gtest/gtest.h>

TEST(Clock, DifferencesHoldAcrossTheWrap) {
    EXPECT_EQ(plat::ticksBetween(0xFFFFFFF0u, 0x00000010u), 0x20u);
    EXPECT_EQ(plat::ticksBetween(100u, 100u), 0u);
    // A deadline beyond the wrap is still in the future...
    EXPECT_EQ(plat::ticksLeft(0xFFFFFF00u, 0x00000100u), 0x200u);
    // ...and one just behind "now" across the wrap has passed.
    EXPECT_EQ(plat::ticksLeft(0x00000010u, 0xFFFFFFF0u), 0u);
    EXPECT_EQ(plat::ticksLeft(500u, 500u), 0u);
}

TEST(Clock, SleepAdvancesTheTickCount) {
    uint32_t start = plat::tickCount();
    plat::sleepMs(60);
    uint32_t took = plat::ticksBetween(start, plat::tickCount());
    EXPECT_GE(took, 30u);  // tick counts may be coarse (Wine: ~16 ms)
    EXPECT_LT(took, 5000u);
}
