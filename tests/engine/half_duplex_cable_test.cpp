// Half duplex between workers over a null-modem cable of pseudo-terminals:
// A is the master, B the slave.
#include <gtest/gtest.h>

#include <ctime>

#include "platform/clock.h"
#include "tester/config/configuration.h"
#include "tests/engine/engine_harness.h"
#include "tests/support/cable.h"
#include "tests/support/line_format.h"

namespace {

constexpr uint32_t B = 1024;

struct Pair {
    explicit Pair(int32_t hdTimeout, const rig::Pacing& pacing = rig::Pacing::off())
        : cable(pacing) {
        configuration.portSettings.hdTimeout = hdTimeout;
        master = &engine.Add(cable.pathA());
        slave = &engine.Add(cable.pathB());
        master->SetMode(ModeMaster);
        slave->SetMode(ModeSlave);
    }
    rig::NullModemCable cable;
    EngineHarness engine;
    PortWorker* master;
    PortWorker* slave;
};

double ProcessCpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

TEST(HalfDuplex, MasterAndSlaveExchangeCleanly) {
    Pair p(0);  // computed: 1024 x 30000 / 115200 = 266 ms
    EXPECT_EQ(Get(p.master->hdTimeoutMs), 0u);
    p.slave->ToggleRun();
    p.master->ToggleRun();
    EXPECT_EQ(Get(p.master->rxRunning) + Get(p.slave->txRunning), 0u);
    ASSERT_TRUE(WaitUntil([&] { return Get(p.master->blocksOk) >= 300; }, 60000));
    p.master->ToggleRun();
    // A quiet spell alone could be a starved cable holding the last block.
    ASSERT_TRUE(WaitUntil([&] {
        return Get(p.slave->blocksOk) == Get(p.master->blocksWritten) &&
               Get(p.slave->blocksWritten) == Get(p.slave->blocksOk);
    }));
    ASSERT_TRUE(WaitSettled(p.slave->blocksWritten));
    p.slave->ToggleRun();
    const uint32_t sent = Get(p.master->blocksWritten);
    // The master may have been stopped while its last echo was on the way.
    EXPECT_GE(Get(p.master->blocksOk) + 1, sent);
    EXPECT_EQ(Get(p.slave->blocksOk), sent);
    EXPECT_EQ(Get(p.slave->blocksWritten), sent);
    EXPECT_EQ(Get(p.slave->bytesWritten), sent * B);
    for (PortWorker* w : {p.master, p.slave}) {
        EXPECT_EQ(Get(w->rxErrors), 0u);
        EXPECT_EQ(Get(w->txErrors), 0u);
    }
    // Every good echo is one round trip timed; the slave times none.
    const LatencySummary trips = p.master->roundTrips.Summarise();
    EXPECT_EQ(trips.count, Get(p.master->blocksOk));
    EXPECT_GT(trips.minUs, 0u);
    EXPECT_LE(trips.minUs, trips.p50Us);
    EXPECT_LE(trips.p50Us, trips.p99Us);
    EXPECT_LE(trips.p99Us, trips.maxUs);
    EXPECT_EQ(p.slave->roundTrips.Summarise().count, 0u);
    p.master->Clear();
    EXPECT_EQ(p.master->roundTrips.Summarise().count, 0u) << "Clear empties the round trips";
}

// On a paced line a stop almost always comes while a block is on its way
// (an exchange takes two block times, 178 ms): the master stops sending
// but waits for that echo, so that the exchange is whole, not cut.
// The reply time-out is generous: on a busy machine an echo may come later
// than the computed 266 ms, and a time-out is not what this is about.
TEST(HalfDuplex, AStoppedMasterLetsTheExchangeOnItsWayFinish) {
    Pair p(5000, rig::Pacing::at(115200, rig::frameBits(8, false, 1)));
    p.slave->ToggleRun();
    p.master->ToggleRun();
    ASSERT_TRUE(WaitUntil([&] { return Get(p.master->blocksOk) >= 3; }, 20000));
    plat::sleepMs(60);  // into the next exchange
    p.master->ToggleRun();
    ASSERT_TRUE(WaitUntil([&] { return !p.master->Snapshot().txBusy; }, 10000))
        << "the routine ends within the reply time-out";
    const PortSnapshot master = p.master->Snapshot();
    EXPECT_EQ(master.blocksOk, master.blocksWritten);
    EXPECT_EQ(master.bytesRead, master.blocksWritten * B) << "every echo whole";
    EXPECT_EQ(master.rxErrors, 0u);
    EXPECT_EQ(master.replyAwaited, 0u);
    EXPECT_EQ(Get(p.slave->blocksWritten), master.blocksOk);
}

TEST(HalfDuplex, AbsentSlaveGivesOneTimeOutPerBlock) {
    Pair p(150);  // B's worker stays idle: nothing comes back
    const uint32_t start = plat::tickCount();
    p.master->ToggleRun();
    ASSERT_TRUE(WaitUntil([&] { return Get(p.master->rxErrors) >= 4; }, 20000));
    p.master->ToggleRun();
    ASSERT_TRUE(WaitSenderStopped(*p.master));
    // Each block waits more than 150 ms for its time-out before the next.
    EXPECT_GE(plat::ticksBetween(start, plat::tickCount()), 4 * 150u);
    const uint32_t sent = Get(p.master->blocksWritten);
    const uint32_t timeOuts = Get(p.master->rxErrors);
    EXPECT_TRUE(timeOuts == sent || timeOuts + 1 == sent) << timeOuts << " of " << sent;
    EXPECT_EQ(Get(p.master->lastErrorKind), kErrorTimeout);
    EXPECT_EQ(Get(p.master->blocksOk), 0u);
}

TEST(HalfDuplex, ChangedEchoGivesOneDataErrorThenOneTimeOut) {
    Pair p(1500);
    // Byte 500 of the echo of block 10 (the slave echoes block n as the
    // n-th 1024 bytes it sends).
    ASSERT_TRUE(p.cable.inject(rig::Dir::BtoA, rig::Injection::change(10 * B + 500, 0x00)));
    p.slave->ToggleRun();
    p.master->ToggleRun();
    ASSERT_TRUE(WaitUntil([&] { return Get(p.master->rxErrors) >= 1; }, 20000));
    EXPECT_EQ(Get(p.master->lastErrorKind), kErrorData);
    EXPECT_EQ(Get(p.master->blocksOk), 10u);
    // While the wrong echo waits for its time-out nothing else happens, and
    // the master waits rather than spins.
    const double cpu = ProcessCpuSeconds();
    const uint32_t quiet = plat::tickCount();
    plat::sleepMs(800);
    EXPECT_EQ(Get(p.master->rxErrors), 1u);
    EXPECT_LT(ProcessCpuSeconds() - cpu, 0.4)
        << "over " << plat::ticksBetween(quiet, plat::tickCount());
    ASSERT_TRUE(WaitUntil([&] { return Get(p.master->rxErrors) >= 2; }, 20000));
    EXPECT_EQ(Get(p.master->lastErrorKind), kErrorTimeout);
    ASSERT_TRUE(WaitUntil([&] { return Get(p.master->blocksOk) >= 30; }, 20000));
    p.master->ToggleRun();
    EXPECT_EQ(Get(p.master->rxErrors), 2u) << "clean after the time-out";
    EXPECT_EQ(Get(p.slave->rxErrors), 0u);
}

// A time-out setting of 1 ms, below the 100 ms read time-out:
TEST(HalfDuplex, OneMillisecondTimeOutAsWritten) {
    // An idle slave counts one "TO" after every empty read, which takes
    // the read time-out: at most one per 100 ms.
    {
        Pair p(1);
        const uint32_t start = plat::tickCount();
        p.slave->ToggleRun();
        ASSERT_TRUE(WaitUntil([&] { return Get(p.slave->rxErrors) >= 3; }, 20000));
        const uint32_t elapsed = plat::ticksBetween(start, plat::tickCount());
        EXPECT_LE(Get(p.slave->rxErrors), elapsed / 100 + 1);
        EXPECT_EQ(Get(p.slave->lastErrorKind), kErrorTimeout);
        EXPECT_EQ(Get(p.slave->blocksOk), 0u);
    }
    // A master whose echo does not come complete in the first read after
    // the send (a paced line delivers it in chunks of about 10 ms) times
    // out on every block and never counts one good.
    {
        Pair p(1, rig::Pacing::at(115200, rig::frameBits(8, false, 1)));
        p.slave->hdTimeoutMs = 0;  // a slave that waits for whole blocks
        p.slave->ToggleRun();
        p.master->ToggleRun();
        ASSERT_TRUE(WaitUntil([&] { return Get(p.master->blocksWritten) >= 10; }, 20000));
        p.master->ToggleRun();
        ASSERT_TRUE(WaitSenderStopped(*p.master));
        EXPECT_EQ(Get(p.master->blocksOk), 0u);
        EXPECT_GE(Get(p.master->rxErrors) + 1, Get(p.master->blocksWritten));
        EXPECT_GT(Get(p.slave->blocksOk), 0u) << "the blocks did arrive";
    }
}

// "Read" on a running master and "Write" on a running slave: the new
// routine starts beside the half-duplex one, which runs on until it is
// stopped. The two take turns at the port and its receive buffer (the
// sanitizer builds check that they never touch it at once).
TEST(HalfDuplex, ModeChangesWhileRunningKeepTheRoutinesApart) {
    Pair p(200);
    p.slave->ToggleRun();
    p.master->ToggleRun();
    ASSERT_TRUE(WaitUntil([&] { return Get(p.master->blocksOk) >= 20; }, 20000));
    p.master->ToggleRead();
    p.slave->ToggleWrite();
    for (PortWorker* w : {p.master, p.slave}) {
        EXPECT_EQ(Get(w->mode), ModeDuplex);
        EXPECT_EQ(Get(w->rxRunning) + Get(w->txRunning), 2u);
    }
    // The master routine goes on sending (one number per block) and the
    // slave routine on counting what it receives.
    const uint32_t sent = Get(p.master->nextTxSeq);
    const uint32_t echoed = Get(p.slave->blocksOk);
    ASSERT_TRUE(WaitUntil([&] {
        return Get(p.master->nextTxSeq) > sent + 5 && Get(p.slave->blocksOk) > echoed + 5;
    }));
}

}  // namespace
