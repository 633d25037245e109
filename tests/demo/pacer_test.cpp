#include "tester/demo/pacer.h"

#include "tester/demo/char_delay.h"

#include <random>
#include <vector>

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

// A device server's pieces on a busy line at 115200 8N1, fed as the paced
// cable feeds it (a quantum's worth every 10 ms): every piece waits the
// longest delay, two quanta, since the line never falls quiet.
TEST(CharDelay, ABusyLineGoesInPiecesOfTheLongestDelay) {
    const int64_t charNs = charTimeNs(115200, 10);
    CharDelay pieces;
    size_t held = 0;
    std::vector<size_t> sent;
    for (int64_t now = 0; now < 200 * kMs; now += kMs) {
        if (pieces.Due(now, held)) {
            sent.push_back(held);
            held = 0;
            pieces.Sent(0);
        }
        if (now % (10 * kMs) == 0) {
            pieces.Received(now, 115, charNs);
            held += 115;
        }
        EXPECT_LE(pieces.WaitNs(now, held), CharDelay::kLongestNs);
    }
    EXPECT_EQ(sent, std::vector<size_t>(9, 230));
}

// A lone block goes once the line has been quiet for twenty character
// times after its last character would have come; a full piece goes at
// once; on a fast line a piece waits no longer than the line takes to
// bring a full one, on a slow line the quiet gap stops at the longest
// delay.
TEST(CharDelay, QuietLinesFullPiecesAndSlowLines) {
    const int64_t charNs = charTimeNs(115200, 10);
    CharDelay pieces;
    EXPECT_EQ(pieces.WaitNs(0, 0), -1);
    pieces.Received(0, 50, charNs);
    EXPECT_EQ(pieces.WaitNs(0, 50), 70 * charNs);
    EXPECT_FALSE(pieces.Due(70 * charNs - 1, 50));
    EXPECT_TRUE(pieces.Due(70 * charNs, 50));
    EXPECT_TRUE(pieces.Due(0, CharDelay::kPiece));
    pieces.Sent(0);

    // A fast line's pieces wait no longer than it takes to bring a full one.
    CharDelay fast;
    const int64_t fastNs = charTimeNs(921600, 10);
    fast.Received(0, 100, fastNs);
    fast.Received(10 * kMs, 800, fastNs);
    EXPECT_EQ(fast.WaitNs(10 * kMs, 900),
              static_cast<int64_t>(CharDelay::kPiece) * fastNs - 10 * kMs);

    CharDelay slow;
    slow.Received(0, 1, charTimeNs(9600, 10));
    EXPECT_EQ(slow.WaitNs(0, 1), CharDelay::kLongestNs);
    // What the client held off goes as soon as it may.
    slow.Sent(1);
    EXPECT_TRUE(slow.Due(CharDelay::kLongestNs, 1));
}

}  // namespace
}  // namespace demo
