#include "tester/port/transfer_timeouts.h"

#include <gtest/gtest.h>

namespace {

constexpr uint32_t F = kWaitForever;

}  // namespace

// Each row: time-outs, a read of `count` bytes that has `received` of them
// `sinceStart` ms after it began and `sinceLastByte` ms after the latest
// byte, and how long it may still wait.
TEST(ReadTimeouts, FollowTheSerialApiRules) {
    struct Case {
        COMMTIMEOUTS t;
        uint32_t count, received, sinceStart, sinceLastByte, wait;
        const char* what;
    } cases[] = {
        {{MAXDWORD, MAXDWORD, 100, 0, 0}, 64000, 0, 0, 0, 100, "tester's mode: wait for a byte"},
        {{MAXDWORD, MAXDWORD, 100, 0, 0}, 64000, 0, 60, 60, 40, "...for what is left of 100 ms"},
        {{MAXDWORD, MAXDWORD, 100, 0, 0}, 64000, 0, 100, 100, 0, "...then end with nothing"},
        {{MAXDWORD, MAXDWORD, 100, 0, 0}, 64000, 0, 250, 250, 0, "...late wake-up"},
        {{MAXDWORD, MAXDWORD, 100, 0, 0}, 64000, 1, 5, 0, 0, "...one byte ends it at once"},
        {{MAXDWORD, MAXDWORD, MAXDWORD - 1, 0, 0}, 10, 0, 0, 0, MAXDWORD - 1, "long constant"},
        {{MAXDWORD, 0, 0, 0, 0}, 100, 0, 0, 0, 0, "return at once with nothing"},
        {{MAXDWORD, 0, 0, 0, 0}, 100, 5, 0, 0, 0, "return at once with what is there"},
        {{0, 0, 0, 0, 0}, 100, 0, 5000, 5000, F, "no time-outs: wait for all"},
        {{0, 0, 0, 0, 0}, 100, 99, 5000, 0, F, "...all means all"},
        {{0, 0, 0, 0, 0}, 100, 100, 5000, 0, 0, "...and ends when all came"},
        {{0, 10, 50, 0, 0}, 100, 0, 0, 0, 1050, "total = multiplier x count + constant"},
        {{0, 10, 50, 0, 0}, 100, 40, 1000, 0, 50, "total counts from the start"},
        {{0, 0, 200, 0, 0}, 100, 0, 201, 201, 0, "total passed"},
        {{20, 0, 0, 0, 0}, 100, 0, 500, 500, F, "interval starts with the first byte"},
        {{20, 0, 0, 0, 0}, 100, 3, 500, 5, 15, "interval since the latest byte"},
        {{20, 0, 0, 0, 0}, 100, 3, 500, 20, 0, "interval passed"},
        {{20, 0, 1000, 0, 0}, 100, 3, 990, 0, 10, "the sooner limit wins"},
        {{MAXDWORD, 0, 300, 0, 0}, 100, 3, 100, 90, 200, "MAXDWORD interval: no interval"},
        {{0, MAXDWORD, 0, 0, 0}, 64000, 0, 0, 0, F, "total beyond 32 bits: no limit"},
        {{MAXDWORD, MAXDWORD, 100, 0, 0}, 0, 0, 0, 0, 0, "nothing asked"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ReadWaitMs(c.t, c.count, c.received, c.sinceStart, c.sinceLastByte), c.wait)
            << c.what;
}

TEST(WriteTimeouts, FollowTheSerialApiRules) {
    COMMTIMEOUTS none = {MAXDWORD, MAXDWORD, 100, 0, 0};
    EXPECT_EQ(WriteWaitMs(none, 64000, 100000), F) << "the tester's writes have no limit";
    COMMTIMEOUTS limited = {0, 0, 0, 2, 100};
    EXPECT_EQ(WriteWaitMs(limited, 50, 0), 200u);
    EXPECT_EQ(WriteWaitMs(limited, 50, 150), 50u);
    EXPECT_EQ(WriteWaitMs(limited, 50, 200), 0u);
}

TEST(Timeouts, OnlyAllMaxdwordReadFieldsAreRefused) {
    EXPECT_FALSE(TimeoutsValid({MAXDWORD, MAXDWORD, MAXDWORD, 0, 0}));
    EXPECT_TRUE(TimeoutsValid({MAXDWORD, MAXDWORD, 100, 0, 0}));
    EXPECT_TRUE(TimeoutsValid({0, 0, 0, 0, 0}));
}
