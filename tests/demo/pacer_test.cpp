#include "tester/demo/pacer.h"

#include <random>

#include <gtest/gtest.h>

#include "tester/demo/line_format.h"

namespace demo {
namespace {

constexpr int64_t kMs = 1000000;
constexpr int64_t kSecond = 1000 * kMs;

TEST(LineFormat, CountsStartDataParityAndStopBits) {
    EXPECT_EQ(frameBits(8, false, 1), 10u);
    EXPECT_EQ(frameBits(7, true, 2), 11u);
    EXPECT_EQ(frameBits(5, false, 1), 7u);
    EXPECT_EQ((LineFormat{9600, 8, true, 1}.bitsPerChar()), 11u);
    EXPECT_EQ(charTimeNs(9600, 10), 1041666);
    EXPECT_EQ(charTimeNs(0, 10), 0);
    EXPECT_EQ(charTimeNs(9600, 0), 0);
}

// Runs a sender that always has data waiting, waking each time the line is
// free plus a random delay of up to maxLateNs, and returns the characters
// moved in one simulated second.
int64_t charsInOneSecond(int64_t charNs, int64_t maxLateNs, uint32_t seed) {
    Pacer pacer;
    std::mt19937 gen(seed);
    int64_t now = 5 * kSecond;  // any start time
    const int64_t end = now + kSecond;
    int64_t moved = 0;
    while (now < end) {
        const size_t n = pacer.allowance(now, charNs);
        pacer.sent(now, n, charNs, false);
        moved += static_cast<int64_t>(n);
        now = pacer.freeAt() + static_cast<int64_t>(gen() % (maxLateNs + 1));
    }
    return moved;
}

TEST(Pacer, BusyLineKeepsItsRateThoughWakeupsComeLate) {
    const int64_t charNs = charTimeNs(9600, 10);  // 960 characters a second
    const int64_t onTime = charsInOneSecond(charNs, 0, 1);
    const int64_t late = charsInOneSecond(charNs, 3 * kMs, 2);
    // One chunk of slack: the last chunk may start just before the second ends.
    EXPECT_NEAR(onTime, 960, 10);
    EXPECT_NEAR(late, 960, 10);

    const int64_t fast = charsInOneSecond(charTimeNs(115200, 10), 2 * kMs, 3);
    EXPECT_NEAR(fast, 11520, 120);
}

TEST(Pacer, MovesChunksOfAQuantumAndWaitsForTheLine) {
    Pacer pacer;
    const int64_t charNs = charTimeNs(115200, 10);  // 86.8 us
    const int64_t t = 7 * kSecond;
    ASSERT_TRUE(pacer.ready(t));
    const size_t n = pacer.allowance(t, charNs);
    EXPECT_EQ(n, static_cast<size_t>(Pacer::kDefaultQuantumNs / charNs));
    pacer.sent(t, n, charNs, false);
    EXPECT_EQ(pacer.freeAt(), t + static_cast<int64_t>(n) * charNs);
    EXPECT_FALSE(pacer.ready(pacer.freeAt() - 1));
    EXPECT_TRUE(pacer.ready(pacer.freeAt()));
}

TEST(Pacer, SlowLinesMoveOneCharacterAtATime) {
    Pacer pacer;
    const int64_t charNs = charTimeNs(300, 10);  // 33 ms, longer than a quantum
    EXPECT_EQ(pacer.allowance(kSecond, charNs), 1u);
    pacer.sent(kSecond, 1, charNs, false);
    EXPECT_EQ(pacer.allowance(pacer.freeAt(), charNs), 1u);
}

TEST(Pacer, IdleLineOwesNoBurst) {
    Pacer pacer;
    const int64_t charNs = charTimeNs(9600, 10);
    const size_t quantum = static_cast<size_t>(Pacer::kDefaultQuantumNs / charNs);
    pacer.sent(kSecond, 3, charNs, true);  // the sender ran dry
    const int64_t later = 10 * kSecond;
    EXPECT_EQ(pacer.allowance(later, charNs), quantum);
    pacer.sent(later, 2, charNs, true);
    EXPECT_EQ(pacer.freeAt(), later + 2 * charNs);  // counted from its arrival
}

TEST(Pacer, StalledBusyLineCatchesUpOnlyABoundedDebt) {
    Pacer pacer;
    const int64_t charNs = charTimeNs(9600, 10);
    const int64_t quantum = Pacer::kDefaultQuantumNs / charNs;
    pacer.sent(kSecond, static_cast<size_t>(quantum), charNs, false);
    const int64_t stalled = pacer.freeAt() + 2 * kSecond;
    const size_t n = pacer.allowance(stalled, charNs);
    EXPECT_GT(n, static_cast<size_t>(quantum));
    // At most the debt allowed plus the chunk itself, in line time.
    EXPECT_LE(static_cast<int64_t>(n) * charNs,
              (Pacer::kMaxDebtQuanta + 1) * Pacer::kDefaultQuantumNs);
}

TEST(Pacer, ResetForgetsTheBusyLine) {
    Pacer pacer;
    const int64_t charNs = charTimeNs(1200, 10);
    pacer.sent(kSecond, 100, charNs, false);
    EXPECT_FALSE(pacer.ready(kSecond + 1));
    pacer.reset();
    EXPECT_TRUE(pacer.ready(kSecond + 1));
}

}  // namespace
}  // namespace demo
