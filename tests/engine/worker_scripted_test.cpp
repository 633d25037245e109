// Workers on ports that fail: a local port that does not exist, and a
// network port of the scripted stand-in library, whose line state cannot be
// read and whose writes fail, fall short or take nothing. Runs natively and
// under Wine.
#include <gtest/gtest.h>

#include <atomic>
#include <string>

#include "platform/clock.h"
#include "platform/dynlib.h"
#include "platform/message_box.h"
#include "tester/config/configuration.h"
#include "tester/engine/engine.h"
#include "tester/engine/line_check.h"
#include "tester/port/network_library.h"
#include "tester/session/refresh.h"
#include "tests/engine/engine_harness.h"
#include "tests/engine/scripted_qelnet.h"

namespace {

const char kNetName[] = "127.0.0.1:7000";

std::atomic<int> boxes{0};
std::atomic<bool> holdBox{false};
std::string boxText, boxCaption;  // written by the box, read after it is counted
unsigned boxFlags = 0;

int CountingBox(const char* text, const char* caption, unsigned flags) {
    boxText = text;
    boxCaption = caption;
    boxFlags = flags;
    boxes.fetch_add(1);
    while (holdBox.load())
        plat::sleepMs(5);  // the user has not pressed OK yet
    return IDOK;
}

ScriptedQn& Script() {
    plat::LibraryHandle lib = plat::loadLibrary("vesk_scripted_qelnet");
    auto state = lib ? reinterpret_cast<ScriptedQnStateFn>(plat::findSymbol(lib, "ScriptedQnState"))
                     : nullptr;
    if (!state) std::abort();
    return *state();
}

class ScriptedPort : public ::testing::Test {
  protected:
    void SetUp() override {
        UseNetworkLibraryForTesting("vesk_scripted_qelnet");
        ScriptedQn& s = Script();
        s.write = ScriptedQn::kWriteAll;
        s.getStateFails = 0;
        s.readError = 0;
        s.createsToFail = 0;
        s.createDelayMs = 0;
        s.commErrors = CE_FRAME;
        s.readHold = 0;
        s.readsHeld = 0;
        s.readAborts = 0;
        s.creates = 0;
        s.closes = 0;
        s.reads = 0;
        s.writes = 0;
        s.setStates = 0;
        s.lastBaudSet = 0;
        for (int p = 0; p < ScriptedQn::kPorts; ++p) {
            s.outputs[p] = 0;
            for (int o = 0; o < 2; ++o) {
                s.wireTo[p][o] = 0;
                s.wireBits[p][o] = 0;
            }
        }
        s.modemLagMs = 0;
        s.modemError = 0;
        boxes = 0;
        previousHook_ = plat::setMessageBoxHook(CountingBox);
    }
    void TearDown() override {
        engine_.ShutDown();
        plat::setMessageBoxHook(previousHook_);
        UseNetworkLibraryForTesting("qelnet");
    }

    EngineHarness engine_;
    plat::MessageBoxHook previousHook_ = nullptr;
};

TEST(WorkerRow, MissingPortShowsNotOpenAndStaysNotReady) {
    EngineHarness engine;
    PortWorker& w = engine.Add("COM200", false);
    std::string state;
    ASSERT_TRUE(WaitUntil(
        [&] { return engine.rows.GetCellText(0, 8, state) && state == "Not open"; }, 5000));
    std::string number, name;
    engine.rows.GetCellText(0, 0, number);
    engine.rows.GetCellText(0, 1, name);
    EXPECT_EQ(number, "1");
    EXPECT_EQ(name, "COM200");
    EXPECT_EQ(engine.rows.GetRowWorker(0), &w);
    EXPECT_TRUE(w.JoinThreads(2000)) << "PortThread ends after a failed open";
    EXPECT_EQ(Get(w.notReady), 1u);
    EXPECT_EQ(w.portHandle.load(), INVALID_HANDLE_VALUE);
}

TEST(WorkerControl, RunEventsFollowTheModeAndTheToggles) {
    EngineHarness engine;
    PortWorker& w = engine.Add("COM200", false);  // the events work without a port
    auto running = [&] {
        return std::to_string(Get(w.rxRunning)) + std::to_string(w.rxRunEvent.tryWait()) +
               std::to_string(Get(w.txRunning)) + std::to_string(w.txRunEvent.tryWait());
    };
    w.ToggleRun();
    EXPECT_EQ(running(), "1111");
    w.ToggleRun();
    EXPECT_EQ(running(), "0000");
    w.SetMode(ModeMaster);
    w.ToggleRun();
    EXPECT_EQ(running(), "0011");
    w.ToggleRun();
    w.SetMode(ModeSlave);
    w.ToggleRun();
    EXPECT_EQ(running(), "1100");
    // Read on a slave: duplex, and the read direction flips off.
    w.ToggleRead();
    EXPECT_EQ(Get(w.mode), ModeDuplex);
    EXPECT_EQ(running(), "0000");
    // Only reading: Start/Stop stops it rather than starting the writer.
    w.ToggleRead();
    w.ToggleRun();
    EXPECT_EQ(running(), "0000");
    w.ToggleWrite();
    EXPECT_EQ(running(), "0011");
    w.ToggleWrite();
    w.PairByRow();  // row 0: even
    EXPECT_EQ(Get(w.mode), ModeMaster);
}

TEST_F(ScriptedPort, GetStateFailureShowsOneBoxPerPass) {
    Script().getStateFails = 1;
    PortWorker& w = engine_.Add(kNetName);
    plat::sleepMs(200);
    EXPECT_EQ(boxes.load(), 0) << "a failure at set-up is not reported";
    w.ToggleRead();
    ASSERT_TRUE(WaitUntil([] { return boxes.load() == 1; }, 5000));
    EXPECT_EQ(boxText, "Error 'GETCOMMSTATE' for 127.0.0.1:7000");
    EXPECT_EQ(boxCaption, "Error");
    EXPECT_EQ(boxFlags, static_cast<unsigned>(MB_OK));
    const uint32_t reads = Script().reads.load();
    ASSERT_TRUE(WaitUntil([&] { return Script().reads.load() > reads + 10; }, 5000));
    EXPECT_EQ(boxes.load(), 1) << "the reader runs on after the box, without another";
    w.ToggleRead();
    ASSERT_TRUE(WaitSettled(Script().reads)) << "the pass ends";
    w.ToggleRead();
    ASSERT_TRUE(WaitUntil([] { return boxes.load() == 2; }, 5000));
    EXPECT_EQ(Get(w.rxErrors), 0u) << "reads that find nothing are no errors";
}

// bytesWritten counts only what the port took and blocksWritten the blocks
// it took some of; a failed or short write is a "WR" error, an aborted one
// nothing. A write that fails is not tried again at once: a dead port must
// not spin.
TEST_F(ScriptedPort, WritesCountWhatThePortTook) {
    struct Case {
        int write;
        uint32_t error;
        uint32_t bytesPerBlock;  // 0: no block counted
        bool counted;
        uint32_t osError;  // a short write has none
    };
    const Case cases[] = {
        {ScriptedQn::kWriteFail, ERROR_GEN_FAILURE, 0, true, ERROR_GEN_FAILURE},
        {ScriptedQn::kWriteNothing, 0, 0, true, 0},
        {ScriptedQn::kWriteShort, 0, 512, true, 0},
        {ScriptedQn::kWriteFail, ERROR_OPERATION_ABORTED, 0, false, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.write * 10000 + c.error);
        Script().write = c.write;
        Script().writeError = c.error;
        Script().writes = 0;
        PortWorker& w = engine_.Add(kNetName);
        const uint32_t start = plat::tickCount();
        w.ToggleWrite();
        ASSERT_TRUE(WaitUntil([&] { return Script().writes.load() >= 5; }, 5000));
        w.ToggleWrite();
        ASSERT_TRUE(WaitSettled(Script().writes));
        const uint32_t tried = Script().writes.load();
        const uint32_t took = plat::ticksBetween(start, plat::tickCount());
        EXPECT_EQ(Get(w.txErrors), c.counted ? tried : 0u);
        EXPECT_EQ(Get(w.blocksWritten), c.bytesPerBlock ? tried : 0u);
        EXPECT_EQ(Get(w.bytesWritten), Get(w.blocksWritten) * c.bytesPerBlock);
        EXPECT_EQ(Get(w.lastErrorKind), c.counted ? kErrorWrite : kErrorNone);
        EXPECT_EQ(Get(w.lastOsError), c.osError);
        // A failure waits about a read time-out before the next try (a
        // generous bound: 5 tries within 200 ms would be a spin).
        if (c.bytesPerBlock == 0 && c.counted) {
            EXPECT_GE(took, 4 * kReadTimeoutMs / 2);
        }
    }
}

TEST_F(ScriptedPort, MasterSendsAgainWhenAWriteTakesNothing) {
    Script().write = ScriptedQn::kWriteNothing;
    PortWorker& w = engine_.Add(kNetName);
    w.SetMode(ModeMaster);
    w.ToggleRun();
    ASSERT_TRUE(WaitUntil([&] { return Get(w.txErrors) >= 5; }, 5000));
    w.ToggleRun();
    ASSERT_TRUE(WaitSettled(w.txErrors));
    EXPECT_EQ(Script().reads.load(), 0u) << "no reply is awaited for a block not sent";
    EXPECT_EQ(Get(w.blocksWritten), 0u);
    EXPECT_EQ(Get(w.nextTxSeq), Get(w.txErrors)) << "each attempt takes the next number";
    EXPECT_EQ(Get(w.rxErrors), 0u);
}

// Commands given while a network port is still connecting (the pairing
// and Start, pressed at once) are kept: the row says what the port will do,
// and once the port is open it does it, in the mode it was given.
TEST_F(ScriptedPort, CommandsGivenWhileAPortOpensAreCarriedOutOnceItIsOpen) {
    Script().createDelayMs = 800;
    PortWorker& w = engine_.Add(kNetName, false);
    ASSERT_TRUE(WaitUntil([&] { return engine_.rows.GetRowWorker(0) == &w; }, 5000));
    ASSERT_EQ(w.State(), PortState::Opening);
    w.PairByRow();  // row 1: a master
    w.ToggleRun();
    EXPECT_EQ(StateCellText(w.Snapshot()), "Open M/Tx");
    ASSERT_TRUE(WaitUntil([&] { return w.State() == PortState::Open; }, 10000));
    ASSERT_TRUE(WaitUntil([&] { return Get(w.blocksWritten) >= 2; }, 5000))
        << "the master runs once the port is open";
    EXPECT_EQ(StateCellText(w.Snapshot()), "M/Tx");
    EXPECT_EQ(Get(w.mode), ModeMaster);
    w.ToggleRun();
    EXPECT_EQ(StateCellText(w.Snapshot()), "M");
}

// A read that fails with the connection lost is no error: the worker
// closes the port, opens it again with the settings it had (0.5 s, then
// 1 s, 2 s... between tries) and the direction goes on, counting on.
TEST_F(ScriptedPort, ALostPortIsOpenedAgainAndTheDirectionGoesOn) {
    PortWorker& w = engine_.Add(kNetName);
    ASSERT_EQ(Script().creates.load(), 1u);
    w.ToggleRead();
    ASSERT_TRUE(WaitUntil([&] { return Script().reads.load() >= 3; }, 5000));
    Script().createsToFail = 2;
    Script().readError = ERROR_NETNAME_DELETED;
    ASSERT_TRUE(WaitUntil([&] { return Get(w.portDown) == 1u; }, 5000));
    EXPECT_EQ(Get(w.drops), 1u);
    // Down: the refresh shows it, and nothing is read meanwhile.
    EXPECT_EQ(FormatRowCells(w.Snapshot()).text[kColumnState - kFirstRefreshedColumn], "Down");
    ASSERT_TRUE(WaitUntil([&] { return Get(w.portDown) == 0u; }, 15000));
    EXPECT_EQ(Script().creates.load(), 4u) << "two failed tries, then the port is back";
    EXPECT_EQ(Script().closes.load(), 1u);
    EXPECT_EQ(Get(w.lastOsError), static_cast<uint32_t>(ERROR_SEM_TIMEOUT)) << "why it stayed down";
    const uint32_t readsBack = Script().reads.load();
    ASSERT_TRUE(WaitUntil([&] { return Script().reads.load() > readsBack + 3; }, 5000));
    EXPECT_EQ(Get(w.rxRunning), 1u);
    EXPECT_EQ(Get(w.drops), 1u);
    EXPECT_EQ(Get(w.rxErrors), 0u) << "a loss is a drop, not a flood of read errors";
    EXPECT_EQ(Script().lastBaudSet.load(), configuration.portSettings.baudRate.load())
        << "the settings go back onto the new port";
}

TEST_F(ScriptedPort, WithReconnectOffALostPortStaysFailedWithoutSpinning) {
    configuration.portSettings.reconnect = 0;
    PortWorker& w = engine_.Add(kNetName);
    Script().readError = ERROR_NETNAME_DELETED;
    const uint32_t start = plat::tickCount();
    w.ToggleRead();
    ASSERT_TRUE(WaitUntil([&] { return Get(w.rxErrors) >= 5; }, 5000));
    w.ToggleRead();
    ASSERT_TRUE(WaitSettled(w.rxErrors));
    // At most about ten a second; a spinning direction makes thousands.
    const uint32_t seconds = plat::ticksBetween(start, plat::tickCount()) / 1000 + 1;
    EXPECT_LE(Get(w.rxErrors), 15 * seconds);
    EXPECT_EQ(Get(w.drops), 0u);
    EXPECT_EQ(Script().creates.load(), 1u);
    EXPECT_EQ(Get(w.lastErrorKind), kErrorRead);
}

TEST_F(ScriptedPort, MasterWithUnknownSpeedWaitsTheSlowLineTimeOut) {
    // The line state cannot be read, so the worker's DCB holds speed 0 and
    // the reply time-out is computed as at 300 bit/s: 32 x 30000 / 300.
    Script().getStateFails = 1;
    configuration.portSettings.blockSize = 32;
    PortWorker& w = engine_.Add(kNetName);
    ASSERT_EQ(w.Dcb().BaudRate, 0u);
    w.SetMode(ModeMaster);
    const uint32_t start = plat::tickCount();
    w.ToggleRun();
    ASSERT_TRUE(WaitUntil([&] { return Get(w.rxErrors) >= 1; }, 15000));
    EXPECT_GE(plat::ticksBetween(start, plat::tickCount()), 3200u);
    EXPECT_EQ(Get(w.lastErrorKind), kErrorTimeout);
    EXPECT_EQ(boxes.load(), 0) << "the master's receive direction does not run";
}

TEST_F(ScriptedPort, SettingsChangeStopsZeroesAndAppliesTheLine) {
    PortWorker& w = engine_.Add(kNetName);
    w.ToggleRun();
    ASSERT_TRUE(WaitUntil([&] { return Get(w.blocksWritten) >= 3; }, 5000));
    PortSettings& s = configuration.portSettings;
    s.baudRate = 57600;
    s.byteSize = 7;
    s.parity = EVENPARITY;
    s.stopBits = TWOSTOPBITS;
    s.hdTimeout = 250;
    s.lineFlags = LineFlags::fromWord(0x3FF);
    w.ApplySettings();
    EXPECT_EQ(Get(w.txRunning) + Get(w.rxRunning), 0u);
    EXPECT_FALSE(w.txRunEvent.tryWait());
    ASSERT_TRUE(WaitSenderStopped(w));
    w.ApplySettings();  // the writer may have counted one last block after the first
    EXPECT_EQ(Get(w.blocksWritten), 0u);
    EXPECT_EQ(w.CommErrorText(), "  ");
    EXPECT_EQ(w.LastErrorKindText(), "  ");
    EXPECT_EQ(Get(w.hdTimeoutMs), 250u);
    EXPECT_EQ(Script().lastBaudSet.load(), 57600u);
    const DCB d = w.Dcb();
    EXPECT_EQ(d.ByteSize, 7);
    EXPECT_EQ(d.Parity, EVENPARITY);
    EXPECT_EQ(d.fParity, 1u);
    EXPECT_EQ(d.StopBits, TWOSTOPBITS);
    EXPECT_EQ(d.fRtsControl, 3u);
    EXPECT_EQ(d.fDtrControl, 3u);
    EXPECT_EQ(d.fOutxCtsFlow + d.fOutxDsrFlow + d.fDsrSensitivity + d.fOutX + d.fInX +
                  d.fTXContinueOnXoff,
              6u);
    EXPECT_EQ(d.XonLim, 2048) << "fields the settings do not hold keep the port's values";
    EXPECT_EQ(d.XonChar, 0x11);
}

// A read that blocks (a line that stays quiet) keeps nobody waiting: the
// sender of the same port starts and writes while it blocks, and a
// settings change and a check's forget take effect at once, by aborting
// it, without a read time-out to wait for. A stopped reader reads no more.
// (The read once held the receive side's lock, which the sender takes as
// it starts: a sender could wait for a whole test behind a reader that let
// go and took it back at every read time-out.)
TEST_F(ScriptedPort, ABlockedReadKeepsNobodyWaiting) {
    ScriptedQn& script = Script();
    script.readHold = 1;
    PortWorker& w = engine_.Add(kNetName);
    w.ToggleRead();
    ASSERT_TRUE(WaitUntil([&] { return script.readsHeld.load() == 1; }, 5000));
    w.ToggleWrite();
    ASSERT_TRUE(WaitUntil([&] { return Get(w.blocksWritten) >= 3; }, 5000))
        << "the sender waited for the read";
    EXPECT_EQ(script.readAborts.load(), 0u) << "the read still blocks";

    EXPECT_TRUE(w.ForgetReceived(7));
    EXPECT_EQ(script.readAborts.load(), 1u);
    EXPECT_EQ(Get(w.lastRxSeq), 6);
    ASSERT_TRUE(WaitUntil([&] { return script.readsHeld.load() == 2; }, 5000))
        << "the reader goes on after a forget";

    const uint32_t start = plat::tickCount();
    EXPECT_TRUE(w.ApplySettings());
    EXPECT_LT(plat::ticksBetween(start, plat::tickCount()), kSideBoundMs);
    EXPECT_EQ(script.readAborts.load(), 2u);
    plat::sleepMs(3 * kReadTimeoutMs);
    EXPECT_EQ(script.readsHeld.load(), 2u) << "a stopped reader read again";
    EXPECT_EQ(Get(w.rxRunning) + Get(w.txRunning), 0u);
    script.readHold = 0;
}

TEST_F(ScriptedPort, ClearAndPurgeResetTheCountersNotTheRun) {
    Script().write = ScriptedQn::kWriteShort;
    PortWorker& w = engine_.Add(kNetName);
    w.SetMode(ModeMaster);
    w.ToggleWrite();  // duplex write, counting short-write errors
    ASSERT_TRUE(WaitUntil([&] { return Get(w.txErrors) >= 3; }, 5000));
    // Each read of the line errors counts every kind it found.
    Script().commErrors = CE_OVERRUN | CE_BREAK | CE_TXFULL;
    const uint32_t shown = CE_OVERRUN | CE_FRAME | CE_RXPARITY | CE_BREAK | CE_TXFULL;
    w.ReadLineErrors(shown);
    w.ReadLineErrors(shown);
    PortSnapshot seen = w.Snapshot();
    EXPECT_EQ(seen.lineErrorCount, 2u);
    EXPECT_EQ(seen.lineErrorsOfKind[kLineOverrun], 2u);
    EXPECT_EQ(seen.lineErrorsOfKind[kLineBreak], 2u);
    EXPECT_EQ(seen.lineErrorsOfKind[kLineFraming] + seen.lineErrorsOfKind[kLineParity], 0u);
    w.Clear();
    seen = w.Snapshot();
    EXPECT_EQ(seen.lineErrorsOfKind[kLineOverrun] + seen.lineErrorsOfKind[kLineBreak], 0u);
    EXPECT_EQ(Get(w.mode), ModeDuplex);
    EXPECT_EQ(w.LastErrorKindText(), "  ");
    EXPECT_LT(Get(w.txErrors), 3u);
    ASSERT_TRUE(WaitUntil([&] { return Get(w.txErrors) >= 3; }, 5000)) << "still running";
    Script().commErrors = CE_FRAME;
    w.Purge();
    EXPECT_EQ(Get(w.commErrors), static_cast<uint32_t>(CE_FRAME));
}

TEST_F(ScriptedPort, ThreadHeldBeyondTheBoundIsReportedNotFreed) {
    Script().getStateFails = 1;
    PortWorker& w = engine_.Add(kNetName);
    holdBox = true;
    w.ToggleRead();
    ASSERT_TRUE(WaitUntil([] { return boxes.load() == 1; }, 5000));
    SignalQuit();
    w.CancelAndPurge();
    EXPECT_FALSE(w.JoinThreads(300)) << "PortThread waits in the box";
    EXPECT_FALSE(w.ThreadsEnded());
    holdBox = false;
    EXPECT_TRUE(w.JoinThreads(5000));
    EXPECT_TRUE(w.ThreadsEnded());
}

// The modem-line check over scripted network ports whose lines are wired
// as a cable or plug would be, seen a notification's lag late: which input
// follows which output, both ways for a pair, against itself for a lone
// port; "not supported" for ports without modem lines; the lines as the
// settings have them afterwards.
TEST_F(ScriptedPort, ModemLineCheckSaysWhichLinesFollow) {
    LineFlags flags = configuration.portSettings.lineFlags;
    flags.rtsControl = RTS_CONTROL_ENABLE;
    flags.dtrControl = DTR_CONTROL_DISABLE;
    configuration.portSettings.lineFlags = flags;
    ScriptedQn& s = Script();
    auto wire = [&](int from, int output, int to, uint32_t bits) {
        s.wireTo[from][output] = static_cast<uint32_t>(to);
        s.wireBits[from][output] = bits;
    };
    // Ports 0 and 1: a cable whose DTR reaches no DCD on 1's way back, but
    // RI as well. Port 2: a loop-back plug whose DTR reaches nothing.
    wire(0, 0, 1, MS_CTS_ON);
    wire(0, 1, 1, MS_DSR_ON | MS_RLSD_ON);
    wire(1, 0, 0, MS_CTS_ON);
    wire(1, 1, 0, MS_DSR_ON | MS_RING_ON);
    wire(2, 0, 2, MS_CTS_ON);
    s.modemLagMs = 30;
    PortWorker& w0 = engine_.Add("127.0.0.1:7000");
    PortWorker& w1 = engine_.Add("127.0.0.1:7001");
    PortWorker& w2 = engine_.Add("127.0.0.1:7002");
    PortWorker& w3 = engine_.Add("COM200", false);  // never opens

    // Pairs as the key z makes them; a row whose partner is not among the
    // rows is checked with a loop-back plug.
    auto pairs = [](const std::vector<PortWorker*>& rows) {
        std::string text;
        for (const LineCheckJob& job : PairForLineCheck(rows))
            text += std::to_string(job.a->rowIndex + 1) + "+" +
                    std::to_string(job.b->rowIndex + 1) + " ";
        return text;
    };
    EXPECT_EQ(pairs({&w2, &w0, &w1}), "1+2 3+3 ");
    EXPECT_EQ(pairs({&w0, &w2, &w3}), "1+1 3+4 ");
    EXPECT_EQ(pairs({&w1, &w2}), "2+2 3+3 ");

    LineCheckTiming timing;
    timing.followMs = 500;
    timing.settleMs = 80;
    timing.pollMs = 5;
    std::vector<LineCheckOutcome> out =
        RunLineCheck(PairForLineCheck({&w0, &w1, &w2}), timing, nullptr);
    ASSERT_EQ(out.size(), 3u);
    EXPECT_EQ(out[0].worker, &w0);
    EXPECT_EQ(out[0].farEnd, &w1);
    EXPECT_EQ(out[0].result.text, "RTS>CTS ok, DTR>DSR ok, DTR>DCD ok");
    EXPECT_EQ(out[0].result.verdict, LineVerdict::Passed);
    EXPECT_EQ(out[1].worker, &w1);
    EXPECT_EQ(out[1].result.text, "RTS>CTS ok, DTR>DSR ok, DTR>DCD none, DTR>RI ok");
    EXPECT_EQ(out[1].result.verdict, LineVerdict::Passed) << "an unwired DCD is no fault";
    EXPECT_EQ(out[2].farEnd, &w2);
    EXPECT_EQ(out[2].result.text, "RTS>CTS ok, DTR>DSR none, DTR>DCD none");
    EXPECT_EQ(out[2].result.verdict, LineVerdict::Failed) << "DTR reaches nothing";
    for (int p = 0; p < 3; ++p)
        EXPECT_EQ(s.outputs[p].load(), 1u) << "port " << p << ": RTS high, DTR low, as set";

    // A running test is not checked. A direction that ran has read the
    // port's state, which over the network says nothing of the lines, into
    // the worker's record: the lines still go back as set.
    for (PortWorker* w : {&w0, &w1, &w2})
        w->ToggleRead();
    out = RunLineCheck(PairForLineCheck({&w0, &w1}), timing, nullptr);
    ASSERT_EQ(out.size(), 2u);
    for (const LineCheckOutcome& o : out)
        EXPECT_EQ(o.result.text, "stop the test first");
    plat::sleepMs(50);
    for (PortWorker* w : {&w0, &w1, &w2})
        w->ToggleRead();
    out = RunLineCheck(PairForLineCheck({&w0, &w1, &w2}), timing, nullptr);
    ASSERT_EQ(out.size(), 3u);
    EXPECT_EQ(out[0].result.verdict, LineVerdict::Passed) << out[0].result.text;
    for (int p = 0; p < 3; ++p)
        EXPECT_EQ(s.outputs[p].load(), 1u) << "port " << p << ": RTS high, DTR low, as set";

    // Without modem lines: not supported, never failed; a call that goes
    // wrong is a failure with the system's words; a port that did not
    // open is not checked.
    s.modemError = ERROR_NOT_SUPPORTED;
    out = RunLineCheck(PairForLineCheck({&w0, &w1}), timing, nullptr);
    ASSERT_EQ(out.size(), 2u);
    for (const LineCheckOutcome& o : out) {
        EXPECT_EQ(o.result.text, "not supported");
        EXPECT_EQ(o.result.verdict, LineVerdict::NotSupported);
    }
    s.modemError = ERROR_GEN_FAILURE;
    out = RunLineCheck(PairForLineCheck({&w2, &w3}), timing, nullptr);
    ASSERT_EQ(out.size(), 2u);
    EXPECT_EQ(out[0].result.verdict, LineVerdict::NotChecked);
    EXPECT_EQ(out[0].result.text, "far end not open");
    EXPECT_EQ(out[1].result.text, "not open");
    out = RunLineCheck(PairForLineCheck({&w2}), timing, nullptr);
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].result.verdict, LineVerdict::Failed);
    EXPECT_EQ(out[0].result.text.rfind("failed: ", 0), 0u) << out[0].result.text;
    s.modemError = 0;

    // On a thread of its own: one check at a time, and one that would wait
    // long for a line that never follows ends at once when stopped, with
    // its lines given back.
    LineCheckThread thread;
    timing.followMs = 60000;
    std::atomic<int> reports{0};
    std::string said;
    ASSERT_TRUE(thread.Start(PairForLineCheck({&w2}), timing,
                             [&](const std::vector<LineCheckOutcome>& outcomes) {
                                 said = outcomes.at(0).result.text;
                                 reports.fetch_add(1);
                             }));
    EXPECT_FALSE(thread.Start(PairForLineCheck({&w0}), timing, nullptr));
    EXPECT_TRUE(thread.Running());
    ASSERT_TRUE(WaitUntil([&] { return s.outputs[2].load() == 2u; }, 5000))
        << "the check waits for a line to follow DTR";
    EXPECT_TRUE(thread.Stop(5000));
    EXPECT_FALSE(thread.Running());
    EXPECT_EQ(reports.load(), 1);
    EXPECT_EQ(said, "stopped");
    EXPECT_EQ(s.outputs[2].load(), 1u);
}

}  // namespace
