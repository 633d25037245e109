// Full duplex between workers over pseudo-terminals: a null-modem cable
// between two ports, a loop-back plug on one, and a cable that drops,
// changes and inserts bytes at exact places.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/clock.h"
#include "tester/config/configuration.h"
#include "tester/session/refresh.h"
#include "tests/engine/engine_harness.h"
#include "tests/support/cable.h"
#include "tests/support/line_format.h"

namespace {

constexpr uint32_t B = 1024;  // the block size of these tests

// Waits until `reader` has taken every byte the line delivered and has no
// partial block left.
bool Drained(PortWorker& reader, const std::function<uint64_t()>& delivered) {
    return WaitUntil(
        [&] { return Get(reader.bytesRead) == delivered() && Get(reader.rxFill) == 0; });
}

void ExpectClean(PortWorker& w) {
    EXPECT_EQ(Get(w.rxErrors), 0u);
    EXPECT_EQ(Get(w.txErrors), 0u);
    EXPECT_EQ(Get(w.lastErrorKind), kErrorNone);
}

struct Cabled {
    explicit Cabled(const rig::Pacing& pacing = rig::Pacing::off()) : cable(pacing) {}
    void Open() {
        a = &engine.Add(cable.pathA());
        b = &engine.Add(cable.pathB());
    }
    rig::NullModemCable cable;  // outlives the workers
    EngineHarness engine;
    PortWorker* a = nullptr;
    PortWorker* b = nullptr;
};

TEST(Duplex, CablePairBothWaysFromAFreshOpen) {
    Cabled c;
    c.Open();
    c.a->ToggleRun();
    c.b->ToggleRun();
    ASSERT_TRUE(
        WaitUntil([&] { return Get(c.a->blocksOk) >= 3000 && Get(c.b->blocksOk) >= 3000; }, 60000));
    c.a->ToggleWrite();
    c.b->ToggleWrite();
    ASSERT_TRUE(WaitSettled(c.a->blocksWritten));
    ASSERT_TRUE(WaitSettled(c.b->blocksWritten));
    ASSERT_TRUE(Drained(*c.b, [&] { return c.cable.delivered(rig::Dir::AtoB); }));
    ASSERT_TRUE(Drained(*c.a, [&] { return c.cable.delivered(rig::Dir::BtoA); }));
    for (auto [from, to] : {std::pair{c.a, c.b}, std::pair{c.b, c.a}}) {
        ExpectClean(*to);
        EXPECT_EQ(Get(to->blocksOk), Get(from->blocksWritten));
        EXPECT_EQ(Get(to->bytesRead), Get(from->bytesWritten));
        EXPECT_EQ(Get(from->bytesWritten), Get(from->blocksWritten) * B);
        EXPECT_EQ(Get(to->lastRxSeq), static_cast<int32_t>(Get(from->blocksWritten)) - 1);
        EXPECT_GT(Get(to->rate), 0u);
    }
}

// A long run's totals in seconds: the counters start just below 2^32 (where
// 32-bit counters wrapped, and printed negative from 2^31), as if the line
// had run at 11520 bytes a second for 103 hours, and the sequence numbers
// just below their limit. Every block passes across both, the cells show
// the totals in full, and the rate is the long run's.
TEST(Duplex, CountersAndNumbersGoPastTheirLimitsOnACleanLine) {
    Cabled c;
    c.Open();
    const uint64_t bytes = (uint64_t{1} << 32) - 2 * 1024 * 1024;
    const uint64_t blocks = (uint64_t{1} << 32) - 100;
    const uint64_t elapsed = bytes * 1000 / 11520;
    for (PortWorker* w : {c.a, c.b}) {
        w->SetCounterOriginForTesting({bytes, elapsed});
        w->blocksOk = blocks;
        w->blocksWritten = blocks;
        w->nextTxSeq = kSequenceLimit - 50;
        w->lastRxSeq = static_cast<int32_t>(kSequenceLimit - 51);
    }
    c.a->ToggleRun();
    c.b->ToggleRun();
    ASSERT_TRUE(WaitUntil([&] {
        return Get(c.a->bytesRead) > bytes + 4 * 1024 * 1024 &&
               Get(c.b->bytesRead) > bytes + 4 * 1024 * 1024;
    }));
    c.a->ToggleWrite();
    c.b->ToggleWrite();
    ASSERT_TRUE(WaitSettled(c.a->blocksWritten));
    ASSERT_TRUE(WaitSettled(c.b->blocksWritten));
    ASSERT_TRUE(Drained(*c.b, [&] { return bytes + c.cable.delivered(rig::Dir::AtoB); }));
    ASSERT_TRUE(Drained(*c.a, [&] { return bytes + c.cable.delivered(rig::Dir::BtoA); }));
    for (auto [from, to] : {std::pair{c.a, c.b}, std::pair{c.b, c.a}}) {
        ExpectClean(*to);
        EXPECT_EQ(Get(to->blocksLost), 0u);
        EXPECT_EQ(Get(to->blocksOk), Get(from->blocksWritten));
        EXPECT_GT(Get(to->blocksOk), uint64_t{1} << 32);
        EXPECT_EQ(Get(to->bytesRead), Get(from->bytesWritten));
        EXPECT_GT(Get(to->bytesRead), uint64_t{1} << 32);
        EXPECT_LT(static_cast<uint32_t>(Get(to->lastRxSeq)), kSequenceLimit / 2)
            << "the numbers started again at 0";
        // Over 103 hours a few more megabytes move the rate very little.
        EXPECT_GE(Get(to->rate), 11520u);
        EXPECT_LE(Get(to->rate), 11600u);
        const RowCells cells = FormatRowCells(ReadRowValues(*to));
        EXPECT_EQ(cells.text[kColumnRx - kFirstRefreshedColumn],
                  std::to_string(Get(to->bytesRead)) + "/" + std::to_string(Get(to->blocksOk)));
        EXPECT_EQ(cells.text[kColumnTime - kFirstRefreshedColumn].substr(0, 4), "103:");
    }
}

TEST(Duplex, LoopbackPlugChecksItsOwnBlocks) {
    rig::LoopbackPlug plug;
    EngineHarness engine;
    PortWorker& w = engine.Add(plug.path());
    w.ToggleRun();
    ASSERT_TRUE(WaitUntil([&] { return Get(w.blocksOk) >= 2000; }, 60000));
    w.ToggleWrite();
    ASSERT_TRUE(WaitSettled(w.blocksWritten));
    ASSERT_TRUE(Drained(w, [&] { return plug.delivered(); }));
    ExpectClean(w);
    EXPECT_EQ(Get(w.blocksOk), Get(w.blocksWritten));
    EXPECT_EQ(Get(w.bytesRead), Get(w.bytesWritten));
}

// A writes, B reads, the cable changes A's stream; offsets count A's bytes,
// so block n begins at n x 1024.
struct LineFault {
    const char* name;
    std::vector<rig::Injection> injections;
    uint32_t errors;  // B's receive errors, all "SY"
    uint32_t lost;    // blocks written that B never counts as good
};

std::vector<rig::Injection> DropRange(uint64_t from, uint64_t to) {
    std::vector<rig::Injection> drops;
    for (uint64_t at = from; at < to; ++at)
        drops.push_back(rig::Injection::drop(at));
    return drops;
}

// The counts are worked out by hand in test_block_test.cpp (kFaults): the
// same faults, here crossing real lines in whatever chunks the cable and
// the reads make of them. The payload byte at block offset 100 is 0x54.
const LineFault kLineFaults[] = {
    {"changed payload byte", {rig::Injection::change(5 * B + 100, 0x00)}, 1, 1},
    {"dropped byte", {rig::Injection::drop(5 * B + 100)}, 1, 1},
    {"inserted byte", {rig::Injection::insert(5 * B + 100, {0xAA})}, 2, 1},
    {"garbage inside a block",
     {rig::Injection::insert(5 * B + 500, std::vector<uint8_t>(50, 0xAA))},
     2,
     1},
    {"garbage between blocks",
     {rig::Injection::insert(5 * B, std::vector<uint8_t>(50, 0xAA))},
     1,
     0},
    {"lost block (sequence jump)", DropRange(5 * B, 6 * B), 1, 1},
    // What B would miss by starting to read while A is in block 2: its
    // first buffer realigns on block 3 ("SY"), block 3 then passes but does
    // not follow -1 (one more "SY"), and every block after is clean.
    {"reader starts mid-block", DropRange(0, 2 * B + 300), 2, 3},
};

TEST(Duplex, InjectedFaultsCostExactlyTheirCountsThenRunClean) {
    for (const LineFault& f : kLineFaults) {
        SCOPED_TRACE(f.name);
        Cabled c;
        for (const auto& i : f.injections)
            ASSERT_TRUE(c.cable.inject(rig::Dir::AtoB, i));
        c.Open();
        c.b->ToggleRead();
        c.a->ToggleWrite();
        ASSERT_TRUE(WaitUntil([&] { return Get(c.b->blocksOk) >= 60; }, 30000));
        c.a->ToggleWrite();
        ASSERT_TRUE(WaitSettled(c.a->blocksWritten));
        ASSERT_TRUE(Drained(*c.b, [&] { return c.cable.delivered(rig::Dir::AtoB); }));
        EXPECT_EQ(Get(c.b->rxErrors), f.errors);
        EXPECT_EQ(Get(c.b->blocksOk), Get(c.a->blocksWritten) - f.lost);
        EXPECT_EQ(Get(c.b->lastErrorKind), kErrorSync);
        EXPECT_EQ(Get(c.b->lastRxSeq), static_cast<int32_t>(Get(c.a->blocksWritten)) - 1);
        EXPECT_EQ(Get(c.a->txErrors), 0u);
    }
}

// On a line at its real speed the reader waits between reads for the rest
// of its block (read_pause.h). Every block still passes, and a stop ends
// the reader's routine at once or after the pause it is in: stopped and
// started again, the reader counts anew within a bound far above the read
// time-out, which a pause too long would break and a busy machine would
// not. Started again it goes on with the bytes the line held meanwhile.
TEST(Duplex, PacedReaderKeepsEveryBlockAndStopsWithinAPause) {
    Cabled c(rig::Pacing::at(115200, rig::frameBits(8, false, 1)));
    c.Open();
    c.a->ToggleWrite();
    c.b->ToggleRead();
    ASSERT_TRUE(WaitUntil([&] { return Get(c.b->blocksOk) >= 10; }));
    for (uint32_t round = 0; round < 6; ++round) {
        const uint64_t before = Get(c.b->bytesRead);
        const uint32_t start = plat::tickCount();
        c.b->ToggleRead();
        c.b->ToggleRead();
        ASSERT_TRUE(WaitUntil([&] { return Get(c.b->bytesRead) < before; }, 5000));
        EXPECT_LT(plat::ticksBetween(start, plat::tickCount()), 1000u) << "round " << round;
        plat::sleepMs(150 + 17 * round);  // into the next pause, at another point
    }
    c.a->ToggleWrite();
    ASSERT_TRUE(WaitSettled(c.a->blocksWritten));
    ASSERT_TRUE(WaitUntil([&] { return Get(c.b->blocksOk) == Get(c.a->blocksWritten); }));
    ExpectClean(*c.b);
    EXPECT_EQ(Get(c.b->rxFill), 0u);
}

// Both ports with XON/XOFF flow control: a receiving tty takes 0x11 and
// 0x13 out of what it reads, so a pattern holding either would lose bytes
// and fail the check. The pty cannot hold 7 or 5 data bits; the cable paces
// the line at the real character time.
TEST(Duplex, SevenAndFiveDataBitsPassWithXonXoffFlowControl) {
    for (uint32_t bits : {7u, 5u}) {
        SCOPED_TRACE(std::to_string(bits) + " data bits");
        Cabled c(rig::Pacing::at(921600, rig::frameBits(bits, false, 1)));
        PortSettings& s = configuration.portSettings;
        s.blockSize = 256;
        s.baudRate = 921600;
        s.byteSize = bits;
        s.flowControl = 3;
        LineFlags flags = LineFlags::fromWord(0);
        flags.outX = 1;
        flags.inX = 1;
        s.lineFlags = flags;
        c.Open();
        ASSERT_EQ(c.a->Dcb().fOutX, 1u);
        c.a->ToggleRun();
        c.b->ToggleRun();
        ASSERT_TRUE(
            WaitUntil([&] { return Get(c.a->blocksOk) >= 300 && Get(c.b->blocksOk) >= 300; }));
        c.a->ToggleWrite();
        c.b->ToggleWrite();
        ASSERT_TRUE(WaitSettled(c.a->blocksWritten));
        ASSERT_TRUE(WaitSettled(c.b->blocksWritten));
        ASSERT_TRUE(WaitUntil([&] {
            return Get(c.b->blocksOk) == Get(c.a->blocksWritten) &&
                   Get(c.a->blocksOk) == Get(c.b->blocksWritten);
        }));
        ExpectClean(*c.a);
        ExpectClean(*c.b);
    }
}

}  // namespace
