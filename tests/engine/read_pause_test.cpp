// The full-duplex reader's pause between reads, with made-up times: a
// paced line read once half a driver's buffer may have come, the bounds
// that keep a stop prompt and a driver's buffer from overflowing, and the
// lines that never pause.
#include <gtest/gtest.h>

#include "tester/engine/read_pause.h"

namespace {

DCB Line(uint32_t baud, uint8_t byteSize = 8, uint8_t parity = NOPARITY,
         uint8_t stopBits = ONESTOPBIT) {
    DCB dcb{};
    dcb.BaudRate = baud;
    dcb.ByteSize = byteSize;
    dcb.Parity = parity;
    dcb.StopBits = stopBits;
    return dcb;
}

constexpr uint64_t kMs = 1000;  // the times are microseconds

// 115200 bit/s 8N1 is 11520 B/s: a chunk of 115 bytes every 10 ms.
TEST(ReadPause, WaitsOnAPacedLineUntilHalfTheDriverBufferMayHaveCome) {
    ReadPause pause = ReadPause::ForLine(Line(115200));
    // The first short read has nothing to measure against.
    EXPECT_EQ(pause.After(1024, 115, 0), 0u);
    // 115 bytes in the 10 ms since the driver was empty: 11500 B/s, at
    // which 2048 bytes take 178 ms; a pause is never longer than 150.
    EXPECT_EQ(pause.After(909, 115, 10 * kMs), kMaxReadPauseMs);
    // They came: the rest of the block in a full read, at once the next
    // block's first part, and the next pause.
    EXPECT_EQ(pause.After(794, 794, 160 * kMs), 0u);
    EXPECT_EQ(pause.After(1024, 934, 160 * kMs + 50), kMaxReadPauseMs);

    // Below the bounds the rate decides, and it counts the full reads
    // between two short ones: 2000 bytes in 10 ms (200 kB/s, 2048 bytes in
    // 10 ms), then 4096 + 1904 in the next 10 ms (597 kB/s, 3 ms). Counting
    // the short read's 1904 alone would have kept the pause at 10 ms.
    ReadPause fast = ReadPause::ForLine(Line(921600));
    fast.After(4096, 2000, 0);
    EXPECT_EQ(fast.After(2096, 2000, 10 * kMs), 10u);
    EXPECT_EQ(fast.After(4096, 4096, 20 * kMs), 0u);
    EXPECT_EQ(fast.After(4096, 1904, 20 * kMs + 50), 3u);
}

TEST(ReadPause, NeverLongerThanTheLongestPauseNorThanHalfTheDriverBufferTakesToFill) {
    // 300 bit/s: 30 B/s, a block would take half a minute.
    ReadPause slow = ReadPause::ForLine(Line(300));
    slow.After(1024, 3, 0);
    EXPECT_EQ(slow.After(1021, 3, 100 * kMs), kMaxReadPauseMs);
    // 921600 bit/s 8N1 fills 2048 bytes of a driver's buffer in 22 ms, so a
    // line that seems slower (its sender is) is still read that often.
    ReadPause fast = ReadPause::ForLine(Line(921600));
    fast.After(4096, 100, 0);
    EXPECT_EQ(fast.After(3996, 100, 10 * kMs), 22u);
    // 7E2 at 9600: 12 bits a character, 800 B/s; the bound is far above
    // the longest pause.
    ReadPause sevenE2 = ReadPause::ForLine(Line(9600, 7, EVENPARITY, TWOSTOPBITS));
    sevenE2.After(1024, 8, 0);
    EXPECT_EQ(sevenE2.After(1016, 8, 10 * kMs), kMaxReadPauseMs);
}

TEST(ReadPause, NoPauseForFullOrEmptyReadsAFastLineOrAnUnknownOne) {
    ReadPause pause = ReadPause::ForLine(Line(115200));
    // An unpaced pseudo-terminal: 1000 bytes in 100 us, 10 MB/s.
    EXPECT_EQ(pause.After(1024, 1000, 0), 0u);
    EXPECT_EQ(pause.After(1024, 1000, 100), 0u);
    // One late wake-up of the reader (1000 bytes in 2 ms) moves the rate a
    // quarter of the way: half a buffer is still well under 2 ms away.
    EXPECT_EQ(pause.After(1024, 1000, 2100), 0u);
    EXPECT_EQ(pause.After(1024, 1024, 2200), 0u);  // full: more may be there
    // A read that got nothing has waited its time-out already.
    ReadPause silent = ReadPause::ForLine(Line(115200));
    silent.After(1024, 115, 0);
    silent.After(909, 115, 10 * kMs);
    EXPECT_EQ(silent.After(794, 0, 160 * kMs), 0u);
    // No read made (the block was whole already), and a line of unknown
    // speed.
    EXPECT_EQ(silent.After(0, 0, 170 * kMs), 0u);
    ReadPause unknown = ReadPause::ForLine(Line(0));
    unknown.After(1024, 115, 0);
    EXPECT_EQ(unknown.After(909, 115, 10 * kMs), 0u);
}

}  // namespace
