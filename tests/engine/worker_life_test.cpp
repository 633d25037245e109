// The end of a worker: quit while its transfers are held by a line that
// does not move, and quit at any moment of its life. The sanitizer builds
// run these for use after free, leaks and races.
#include <gtest/gtest.h>

#include <random>

#include "platform/clock.h"
#include "tester/config/configuration.h"
#include "tester/engine/engine.h"
#include "tests/engine/engine_harness.h"
#include "tests/support/cable.h"
#include "tests/support/line_format.h"

namespace {

// The shut-down order with the time it took; no worker may be left.
uint32_t TimedShutDown(EngineHarness& engine) {
    const uint32_t start = plat::tickCount();
    EXPECT_EQ(engine.ShutDown(), 0);
    return plat::ticksBetween(start, plat::tickCount());
}

TEST(ShutDown, EndsAWriteHeldByAPausedCable) {
    rig::NullModemCable cable;
    EngineHarness engine;
    PortWorker& a = engine.Add(cable.pathA());
    engine.Add(cable.pathB());  // open, not reading
    configuration.portSettings.blockSize = 64000;
    cable.pause();
    a.ToggleWrite();
    // The ptys fill up and the write blocks for good.
    ASSERT_TRUE(WaitSettled(a.bytesWritten, 500));
    EXPECT_EQ(Get(a.txRunning), 1u);
    // PortThread would give up waiting for TxThread only after 5000 ms:
    // ending sooner shows that the cancel and purge ended the write.
    EXPECT_LT(TimedShutDown(engine), 4000u);
}

TEST(ShutDown, EndsASlaveEchoHeldByAPausedCable) {
    rig::NullModemCable cable;
    EngineHarness engine;
    configuration.portSettings.blockSize = 64000;
    PortWorker& a = engine.Add(cable.pathA());
    PortWorker& b = engine.Add(cable.pathB());
    b.SetMode(ModeSlave);
    b.ToggleRun();
    cable.pause(rig::Dir::BtoA);
    a.ToggleWrite();  // the slave echoes every 64000 bytes into a line that holds them
    ASSERT_TRUE(WaitUntil([&] { return Get(b.blocksOk) >= 1; }, 10000));
    ASSERT_TRUE(WaitSettled(b.blocksOk, 500));
    EXPECT_LT(Get(b.blocksWritten), Get(b.blocksOk)) << "an echo is held";
    EXPECT_LT(TimedShutDown(engine), 4000u);
}

// Every third round on a line at its real speed, where a reader spends
// most of its time in a pause between reads (read_pause.h).
TEST(ShutDown, AtAnyMomentOfAWorkersLife) {
    std::mt19937 rng(3);
    for (int round = 0; round < 25; ++round) {
        const bool paced = round % 3 == 2;
        rig::NullModemCable cable(paced ? rig::Pacing::at(115200, rig::frameBits(8, false, 1))
                                        : rig::Pacing::off());
        EngineHarness engine;
        PortWorker& a = engine.Add(cable.pathA(), false);
        PortWorker& b = engine.Add(cable.pathB(), false);
        if (round % 2) {
            a.ToggleRun();
            b.SetMode(ModeSlave);
            b.ToggleRun();
        } else {
            a.ToggleRun();
            b.ToggleRun();
        }
        plat::sleepMs(paced ? 100 + rng() % 300 : rng() % 40);
        EXPECT_LT(TimedShutDown(engine), 4000u) << "round " << round;
    }
}

}  // namespace
