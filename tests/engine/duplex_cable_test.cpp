// Full duplex between workers over pseudo-terminals: a null-modem cable
// between two ports, a loop-back plug on one, and a cable that drops,
// changes and inserts bytes at exact places; and the checks of flow
// control, breaks and parity on such lines and on the demo's network pair.
#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include <asm/termbits.h>
#include <sys/ioctl.h>

#include "platform/clock.h"
#include "tester/config/configuration.h"
#include "tester/port/line_settings_posix.h"
#include "tester/demo/device_server.h"
#include "tester/demo/modem_link.h"
#include "tester/engine/condition_check.h"
#include "tester/session/refresh.h"
#include "tester/session/row_texts.h"
#include "tests/engine/engine_harness.h"
#include "tests/support/cable.h"
#include "tests/support/line_format.h"

namespace {

constexpr uint32_t B = 1024;  // the block size of these tests

// A lane's counts, offset by what the writer had counted before the lane
// carried a byte.
struct LaneCounts {
    std::function<uint64_t()> passed;
    std::function<uint64_t()> delivered;
};

LaneCounts Lane(rig::NullModemCable& cable, rig::Dir dir, uint64_t before = 0) {
    return {[&cable, dir, before] { return before + cable.passed(dir); },
            [&cable, dir, before] { return before + cable.delivered(dir); }};
}

// Waits until the line has passed on all `writer` wrote and `reader` has
// taken every byte it delivered, with no partial block left. Until the line
// has passed on the last byte written, the reader catching up with
// delivered() proves nothing: more may be on its way.
bool Drained(PortWorker& reader, const PortWorker& writer, const LaneCounts& lane) {
    return WaitUntil([&] {
        return lane.passed() == Get(writer.bytesWritten) &&
               Get(reader.bytesRead) == lane.delivered() && Get(reader.rxFill) == 0;
    });
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
    ASSERT_TRUE(WaitSenderStopped(*c.a));
    ASSERT_TRUE(WaitSenderStopped(*c.b));
    ASSERT_TRUE(Drained(*c.b, *c.a, Lane(c.cable, rig::Dir::AtoB)));
    ASSERT_TRUE(Drained(*c.a, *c.b, Lane(c.cable, rig::Dir::BtoA)));
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
    ASSERT_TRUE(WaitSenderStopped(*c.a));
    ASSERT_TRUE(WaitSenderStopped(*c.b));
    ASSERT_TRUE(Drained(*c.b, *c.a, Lane(c.cable, rig::Dir::AtoB, bytes)));
    ASSERT_TRUE(Drained(*c.a, *c.b, Lane(c.cable, rig::Dir::BtoA, bytes)));
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
        const RowCells cells = FormatRowCells(to->Snapshot());
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
    ASSERT_TRUE(WaitSenderStopped(w));
    ASSERT_TRUE(Drained(w, w, {[&] { return plug.passed(); }, [&] { return plug.delivered(); }}));
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
        ASSERT_TRUE(WaitSenderStopped(*c.a));
        ASSERT_TRUE(Drained(*c.b, *c.a, Lane(c.cable, rig::Dir::AtoB)));
        EXPECT_EQ(Get(c.b->rxErrors), f.errors);
        EXPECT_EQ(Get(c.b->blocksOk), Get(c.a->blocksWritten) - f.lost);
        EXPECT_EQ(Get(c.b->lastErrorKind), kErrorSync);
        EXPECT_EQ(Get(c.b->lastRxSeq), static_cast<int32_t>(Get(c.a->blocksWritten)) - 1);
        EXPECT_EQ(Get(c.a->txErrors), 0u);
    }
}

// On a line at its real speed the reader waits between reads until half a
// driver's buffer may have come (read_pause.h). Every block still passes,
// and a stop ends the reader's routine at once or after the pause it is
// in: stopped and started again, the reader counts anew within a bound far
// above the longest pause (16 of them), which a pause that did not end
// would break and a busy machine would not. Started again it goes on with
// the bytes the line held meanwhile.
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
        EXPECT_LT(plat::ticksBetween(start, plat::tickCount()), 2500u) << "round " << round;
        plat::sleepMs(150 + 17 * round);  // into the next pause, at another point
    }
    c.a->ToggleWrite();
    ASSERT_TRUE(WaitSenderStopped(*c.a));
    ASSERT_TRUE(WaitUntil([&] { return Get(c.b->blocksOk) == Get(c.a->blocksWritten); }));
    ExpectClean(*c.b);
    EXPECT_EQ(Get(c.b->rxFill), 0u);
}

// A sender started while the receive side of its own port waits in a read
// on a quiet line starts at once, on a machine whose cores are all busy:
// the read holds nothing the sender takes. (A reader that held the receive
// side's lock across its reads once kept its sender out for a whole test,
// and the far end's reader, hearing nothing, its own: both ends of the
// cable starved.) A settings change and a check's forget made while the
// reader waits take effect at once too, and the line runs clean after them.
TEST(Duplex, ASenderOrASettingsChangeNeverWaitsForAReadOnAQuietLine) {
    Cabled c(rig::Pacing::at(460800, rig::frameBits(8, false, 1)));
    c.Open();
    BusyThreads busy(3);
    c.b->ToggleRead();
    for (int round = 0; round < 50; ++round) {
        c.a->ToggleRead();
        plat::sleepMs(50);  // into the read, which holds no lock
        const uint64_t arrived = Get(c.b->blocksOk);
        c.a->ToggleWrite();
        // A block takes 22 ms on this line: the bound only catches a sender
        // kept out.
        ASSERT_TRUE(WaitUntil([&] { return Get(c.b->blocksOk) > arrived; }, 3000))
            << "round " << round << ": no block arrived";
        c.a->ToggleRun();  // both of a's directions stop
    }
    ASSERT_TRUE(WaitSenderStopped(*c.a));
    ASSERT_TRUE(WaitUntil([&] { return Get(c.b->blocksOk) == Get(c.a->blocksWritten); }));
    ExpectClean(*c.b);

    for (int round = 0; round < 50; ++round) {
        c.a->ToggleRead();
        plat::sleepMs(10);
        EXPECT_TRUE(c.a->ForgetReceived(Get(c.b->nextTxSeq))) << "round " << round;
        EXPECT_TRUE(c.a->ApplySettings()) << "round " << round;
    }
    c.b->ToggleRun();
    c.b->ToggleWrite();
    c.a->ToggleRead();
    ASSERT_TRUE(WaitUntil([&] { return Get(c.a->blocksOk) >= 5; }));
    ExpectClean(*c.a);
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
        ASSERT_TRUE(WaitSenderStopped(*c.a));
        ASSERT_TRUE(WaitSenderStopped(*c.b));
        ASSERT_TRUE(WaitUntil([&] {
            return Get(c.b->blocksOk) == Get(c.a->blocksWritten) &&
                   Get(c.a->blocksOk) == Get(c.b->blocksWritten);
        }));
        ExpectClean(*c.a);
        ExpectClean(*c.b);
    }
}

// A driver that cannot make the speed asked for and quietly sets the
// fastest it can, as a UART with a 1.8432 MHz clock does above 115200, and
// says so only in what it reports back. The port takes the settings, but
// they count as refused: the row shows "SE", and the worker knows both
// speeds.
int ClippingIoctl(int fd, unsigned long request, void* argument) {
    if (request == TCSETS2 || request == TCSETSW2 || request == TCSETSF2) {
        auto* t = static_cast<termios2*>(argument);
        const tcflag_t code = t->c_cflag & CBAUD;
        if (code == BOTHER ? t->c_ospeed > 115200 : code > B115200) {
            t->c_cflag = (t->c_cflag & ~CBAUD) | B115200;
            t->c_ospeed = t->c_ispeed = 115200;
        }
    }
    return ::ioctl(fd, request, argument);
}

TEST(Duplex, ADriverThatSetsAnotherSpeedRefusesTheSettings) {
    SetLineIoctlForTesting(ClippingIoctl);
    {
        Cabled c;
        configuration.portSettings.baudRate = 921600;
        c.Open();
        const PortSnapshot a = c.a->Snapshot();
        EXPECT_EQ(a.settingsRefused, static_cast<uint32_t>(ERROR_INVALID_PARAMETER));
        EXPECT_TRUE(a.speedSubstituted);
        EXPECT_EQ(a.baudAsked, 921600u);
        EXPECT_EQ(a.baudSet, 115200u);
        EXPECT_EQ(c.a->Dcb().BaudRate, 115200u) << "the worker goes by what the port has";
        EXPECT_EQ(a.lastErrorKind, kErrorSettings);
        EXPECT_EQ(a.lastOsError, static_cast<uint32_t>(ERROR_INVALID_PARAMETER));
        // A speed the driver can make is taken as it is.
        configuration.portSettings.baudRate = 57600;
        c.a->ApplySettings();
        EXPECT_EQ(c.a->Snapshot().settingsRefused, 0u);
        EXPECT_FALSE(c.a->Snapshot().speedSubstituted);
        EXPECT_EQ(c.a->Dcb().BaudRate, 57600u);
        c.engine.ShutDown();
    }
    SetLineIoctlForTesting(nullptr);
}

// The demo's network pair, at 921600 bit/s so that the checks take
// seconds: two ports of the device server on the ends of a cable paced to
// their speed, their modem lines joined, as `vesktest --demo` makes it.
struct NetworkPair {
    rig::NullModemCable line{rig::Pacing::followPort()};
    demo::ModemLink link;
    demo::DeviceServer serverA{line.pathA(), 921600, &link, 0};
    demo::DeviceServer serverB{line.pathB(), 921600, &link, 1};
    EngineHarness engine;
    PortWorker* a = nullptr;
    PortWorker* b = nullptr;

    // The ports with parity (even) and `flags` for a handshake.
    void Open(const LineFlags& flags) {
        PortSettings& s = configuration.portSettings;
        s.baudRate = 921600;
        s.parity = EVENPARITY;
        s.lineFlags = flags;
        a = &engine.Add(serverA.PortName());
        b = &engine.Add(serverB.PortName());
    }
    void Faults(const demo::LineFaults& faults) {
        serverA.SetFaultsForTesting(faults);
        serverB.SetFaultsForTesting(faults);
    }
    std::vector<ConditionRun> Check(const std::vector<ConditionCheck>& checks) {
        return RunConditionChecks({{a, b}}, checks, QuickTiming(), nullptr);
    }
    static ConditionTiming QuickTiming() {
        ConditionTiming t;
        t.holdMinMs = 1000;
        t.breakMs = 100;
        t.reportMs = 1000;
        t.quietMs = 400;  // well above a reader's longest pause (150 ms)
        t.drainMs = 10000;
        return t;
    }
};

LineFlags RtsCts() {
    LineFlags flags = LineFlags::fromWord(0);
    flags.rtsControl = RTS_CONTROL_HANDSHAKE;
    flags.outxCtsFlow = 1;
    flags.dtrControl = DTR_CONTROL_ENABLE;
    return flags;
}

LineFlags XonXoff() {
    LineFlags flags = LineFlags::fromWord(0);
    flags.rtsControl = RTS_CONTROL_ENABLE;
    flags.dtrControl = DTR_CONTROL_ENABLE;
    flags.outX = 1;
    flags.inX = 1;
    return flags;
}

bool StartsWith(const std::string& text, const std::string& start) {
    return text.compare(0, start.size(), start) == 0;
}

// Afterwards the ports are as the check found them: nothing running, the
// counters zeroed, the settings theirs, and a test run on them is clean.
void ExpectGivenBack(PortWorker& a, PortWorker& b) {
    for (PortWorker* w : {&a, &b}) {
        EXPECT_EQ(Get(w->rxRunning) + Get(w->txRunning), 0u);
        EXPECT_EQ(Get(w->blocksOk) + Get(w->blocksWritten) + Get(w->rxErrors), 0u);
        EXPECT_EQ(Get(w->lineErrorBits), 0u);
    }
    a.ToggleRun();
    b.ToggleRun();
    ASSERT_TRUE(WaitUntil([&] { return Get(a.blocksOk) >= 20 && Get(b.blocksOk) >= 20; }));
    a.ToggleWrite();
    b.ToggleWrite();
    ASSERT_TRUE(WaitSenderStopped(a));
    ASSERT_TRUE(WaitSenderStopped(b));
    ASSERT_TRUE(WaitUntil([&] {
        return Get(b.blocksOk) == Get(a.blocksWritten) && Get(a.blocksOk) == Get(b.blocksWritten);
    }));
    a.ToggleRead();
    b.ToggleRead();
    ExpectClean(a);
    ExpectClean(b);
    EXPECT_EQ(Get(a.blocksLost) + Get(b.blocksLost), 0u);
    EXPECT_EQ(a.Dcb().Parity, EVENPARITY) << "the port's own parity again";
}

// Every check passes both ways on a line that does what its settings say:
// RTS/CTS holds the sender off across the device server's link, and so
// does XON/XOFF in band; a break reaches the far end; the other parity is
// flagged. Every block sent in the checks arrived.
TEST(Conditions, ANetworkPairThatHonoursItsSettingsPassesEveryCheck) {
    for (const LineFlags& flags : {RtsCts(), XonXoff()}) {
        const std::string handshake = flags.outX ? "XON/XOFF" : "RTS/CTS";
        SCOPED_TRACE(handshake);
        NetworkPair pair;
        pair.Open(flags);
        // Breaks and parity do not depend on the handshake: once is enough.
        const std::vector<ConditionRun> runs =
            flags.outX
                ? pair.Check({ConditionCheck::Flow})
                : pair.Check({ConditionCheck::Flow, ConditionCheck::Break, ConditionCheck::Parity});
        ASSERT_EQ(runs.size(), flags.outX ? 1u : 3u);
        for (const ConditionRun& run : runs) {
            ASSERT_EQ(run.outcomes.size(), 2u);
            for (const LineCheckOutcome& o : run.outcomes) {
                const std::string far = "port " + std::to_string(o.farEnd->rowIndex + 1);
                EXPECT_EQ(o.result.verdict, LineVerdict::Passed)
                    << ConditionCheckName(run.check) << ": " << o.result.text;
                switch (run.check) {
                    case ConditionCheck::Flow:
                        EXPECT_TRUE(StartsWith(o.result.text, handshake + " held it off after "))
                            << o.result.text;
                        EXPECT_NE(o.result.text.find(" blocks, none lost"), std::string::npos);
                        break;
                    case ConditionCheck::Break:
                        EXPECT_TRUE(std::regex_match(
                            o.result.text,
                            std::regex(far + " reported it; \\d+ blocks after it arrived whole")))
                            << o.result.text;
                        break;
                    case ConditionCheck::Parity:
                        EXPECT_TRUE(std::regex_match(
                            o.result.text, std::regex(far + " flagged odd parity; \\d+ blocks "
                                                            "after it arrived whole")))
                            << o.result.text;
                        break;
                }
            }
        }
        EXPECT_EQ(pair.serverA.Overrun() + pair.serverB.Overrun(), 0u);
        ExpectGivenBack(*pair.a, *pair.b);
    }
}

// The same pair, its device server told to ignore the handshake, drop the
// break or let parity errors through: each check fails as it should, in
// words that say what went wrong. A cable whose CTS floats high holds
// nothing off either, and says so in the same words: the sender's count of
// bytes written stands still now and then while its socket buffers fill
// and drain, but the receiver's overruns show its bytes still arriving.
// (Run again with small segments on loopback: engine_flow_small_segments.)
TEST(Conditions, ANetworkPairThatIgnoresItsSettingsFailsEachCheck) {
    for (const demo::LineFaults& faults :
         {demo::LineFaults{true, true, true}, demo::LineFaults{false, false, false, false, true}}) {
        SCOPED_TRACE(faults.ctsFloats ? "CTS floats high" : "the server ignores its settings");
        NetworkPair pair;
        pair.Faults(faults);
        pair.Open(RtsCts());
        const std::vector<ConditionRun> runs =
            faults.ctsFloats
                ? pair.Check({ConditionCheck::Flow})
                : pair.Check({ConditionCheck::Flow, ConditionCheck::Break, ConditionCheck::Parity});
        ASSERT_EQ(runs.size(), faults.ctsFloats ? 1u : 3u);
        for (const ConditionRun& run : runs) {
            for (const LineCheckOutcome& o : run.outcomes) {
                const std::string me = "port " + std::to_string(o.worker->rowIndex + 1);
                const std::string far = "port " + std::to_string(o.farEnd->rowIndex + 1);
                EXPECT_EQ(o.result.verdict, LineVerdict::Failed) << o.result.text;
                switch (run.check) {
                    case ConditionCheck::Flow:
                        EXPECT_TRUE(StartsWith(o.result.text, me + " kept sending for "))
                            << o.result.text;
                        EXPECT_NE(o.result.text.find(" s while " + far +
                                                     " did not read: RTS/CTS does not hold it off"),
                                  std::string::npos)
                            << o.result.text;
                        break;
                    case ConditionCheck::Break:
                        EXPECT_EQ(o.result.text, far + " reported no break within 1.0 s");
                        break;
                    case ConditionCheck::Parity:
                        EXPECT_TRUE(StartsWith(o.result.text, far + " flagged no parity error in "))
                            << o.result.text;
                        EXPECT_NE(o.result.text.find(" blocks with odd parity"), std::string::npos);
                        break;
                }
            }
        }
        EXPECT_GT(pair.serverA.Overrun() + pair.serverB.Overrun(), 0u) << "the receivers overran";
        ExpectGivenBack(*pair.a, *pair.b);
    }
}

// A device server that answers the request for RTS/CTS with "no flow
// control" (RFC 2217's answer is what is now in force) has refused it, as a
// driver refuses a speed it cannot make: the settings count as refused,
// in words that name what was asked, once the answer is read with the line
// errors (as the refresh reads them). The flow check, which runs on such a
// line all the same, fails.
TEST(Conditions, AFlowControlTheServerRefusesIsARefusedSetting) {
    NetworkPair pair;
    pair.Faults(demo::LineFaults{false, false, false, true, false});
    pair.Open(RtsCts());
    for (PortWorker* w : {pair.a, pair.b}) {
        ASSERT_TRUE(WaitUntil(
            [&] {
                w->ReadLineErrors(kShownCommErrors);
                return w->Snapshot().settingsRefused != 0;
            },
            5000))
            << "port " << w->rowIndex + 1;
        const PortSnapshot s = w->Snapshot();
        EXPECT_EQ(s.lastErrorKind, kErrorSettings);
        EXPECT_EQ(SettingsRefusedText(s),
                  "line settings refused: the port answered with other line settings than "
                  "921600 8E1, RTS/CTS");
    }
    for (const ConditionRun& run : pair.Check({ConditionCheck::Flow}))
        for (const LineCheckOutcome& o : run.outcomes)
            EXPECT_EQ(o.result.verdict, LineVerdict::Failed) << o.result.text;
}

// Pseudo-terminals carry none of it: "not supported", with the settings
// asking for all of it. Without a handshake or parity in the settings the
// checks are not made; a pair with a test running is not touched.
TEST(Conditions, WhatIsNotSupportedOrNotSetIsNotChecked) {
    Cabled c;
    PortSettings& s = configuration.portSettings;
    s.parity = EVENPARITY;
    s.lineFlags = RtsCts();
    c.Open();
    const std::vector<ConditionCheck> all = {ConditionCheck::Flow, ConditionCheck::Break,
                                             ConditionCheck::Parity};
    const ConditionTiming timing = NetworkPair::QuickTiming();
    for (const ConditionRun& run : RunConditionChecks({{c.a, c.b}}, all, timing, nullptr)) {
        for (const LineCheckOutcome& o : run.outcomes) {
            EXPECT_EQ(o.result.verdict, LineVerdict::NotSupported);
            EXPECT_EQ(o.result.text, "not supported");
        }
    }

    NetworkPair pair;
    pair.Open(LineFlags::fromWord(0));
    configuration.portSettings.parity = NOPARITY;
    pair.a->ApplySettings();
    pair.b->ApplySettings();
    const std::vector<ConditionRun> runs =
        pair.Check({ConditionCheck::Flow, ConditionCheck::Parity});
    for (const LineCheckOutcome& o : runs[0].outcomes)
        EXPECT_EQ(o.result.text, "not checked (no flow control set)");
    for (const LineCheckOutcome& o : runs[1].outcomes)
        EXPECT_EQ(o.result.text, "not checked (no parity set)");

    pair.a->ToggleRun();
    const std::vector<ConditionRun> busy = pair.Check({ConditionCheck::Break});
    for (const LineCheckOutcome& o : busy[0].outcomes) {
        EXPECT_EQ(o.result.verdict, LineVerdict::NotChecked);
        EXPECT_EQ(o.result.text, "stop the test first");
    }
    EXPECT_EQ(Get(pair.a->txRunning), 1u) << "the test goes on";
    pair.a->ToggleRun();
}

}  // namespace
