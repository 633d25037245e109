// The full-duplex reader's pause between reads, with made-up times: a
// paced line read about twice a block, the bounds that keep a stop prompt
// and a driver's buffer from overflowing, and the lines that never pause.
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
TEST(ReadPause, WaitsOnAPacedLineForTheRestOfTheBlock) {
    ReadPause pause = ReadPause::ForLine(Line(115200));
    // The first short read has nothing to measure against.
    EXPECT_EQ(pause.After(1024, 115, 909, 0), 0u);
    // 115 bytes in the 10 ms since the driver was empty: 11500 B/s, and the
    // 794 bytes still missing take 69 ms.
    EXPECT_EQ(pause.After(909, 115, 794, 10 * kMs), 69u);
    // They came: a full read, then at once the next block's first bytes.
    EXPECT_EQ(pause.After(794, 794, 0, 80 * kMs), 0u);
    EXPECT_EQ(pause.After(1024, 50, 974, 80 * kMs + 50), 84u);
}

TEST(ReadPause, NeverLongerThanAReadTimeOutNorThanHalfTheDriverBufferTakesToFill) {
    // 300 bit/s: 30 B/s, a block would take half a minute.
    ReadPause slow = ReadPause::ForLine(Line(300));
    slow.After(1024, 3, 1021, 0);
    EXPECT_EQ(slow.After(1021, 3, 1018, 100 * kMs), kMaxReadPauseMs);
    // 921600 bit/s 8N1 fills 2048 bytes of a driver's buffer in 22 ms, so a
    // line that seems slower (its sender is) is still read that often.
    ReadPause fast = ReadPause::ForLine(Line(921600));
    fast.After(4096, 100, 3996, 0);
    EXPECT_EQ(fast.After(3996, 100, 3896, 10 * kMs), 22u);
    // 7E2 at 9600: 12 bits a character, 800 B/s; the bound is far above
    // the read time-out.
    ReadPause sevenE2 = ReadPause::ForLine(Line(9600, 7, EVENPARITY, TWOSTOPBITS));
    sevenE2.After(1024, 8, 1016, 0);
    EXPECT_EQ(sevenE2.After(1016, 8, 1008, 10 * kMs), kMaxReadPauseMs);
}

TEST(ReadPause, NoPauseForFullOrEmptyReadsAFastLineOrAnUnknownOne) {
    ReadPause pause = ReadPause::ForLine(Line(115200));
    // An unpaced pseudo-terminal: 1000 bytes in 100 us, 10 MB/s.
    EXPECT_EQ(pause.After(1024, 1000, 24, 0), 0u);
    EXPECT_EQ(pause.After(1024, 1000, 24, 100), 0u);
    // One late wake-up of the reader (1000 bytes in 2 ms) moves the rate a
    // quarter of the way: the rest of a block is still well under 2 ms.
    EXPECT_EQ(pause.After(1024, 1000, 1000, 2100), 0u);
    EXPECT_EQ(pause.After(1024, 1024, 0, 2200), 0u);  // full: more may be there
    // A read that got nothing has waited its time-out already.
    ReadPause silent = ReadPause::ForLine(Line(115200));
    silent.After(1024, 115, 909, 0);
    silent.After(909, 115, 794, 10 * kMs);
    EXPECT_EQ(silent.After(794, 0, 794, 110 * kMs), 0u);
    // No read made (the block was whole already), and a line of unknown
    // speed.
    EXPECT_EQ(silent.After(0, 0, 0, 120 * kMs), 0u);
    ReadPause unknown = ReadPause::ForLine(Line(0));
    unknown.After(1024, 115, 909, 0);
    EXPECT_EQ(unknown.After(909, 115, 794, 10 * kMs), 0u);
}

}  // namespace
