// The shut-down with transfers in flight on real (pseudo-terminal) lines.
#include "tester/engine/worker_group.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "platform/clock.h"
#include "tester/engine/port_worker.h"
#include "tester/session/port_commands.h"
#include "tester/session/refresh.h"
#include "tests/support/cable.h"
#include "tests/session/engine_run.h"

using uitest::EngineRun;
using uitest::WaitUntil;

namespace {

// Generous: the bound of the joins plus the two pauses and a loaded
// machine. It only tells a hang from an end.
constexpr uint32_t kShutDownLimitMs = kShutDownJoinMs + 3000;

// True once `counter` has not moved for `quietMs`.
bool Stalls(const std::atomic<uint64_t>& counter, uint32_t quietMs) {
    return WaitUntil([&] {
        const uint64_t seen = counter.load();
        plat::sleepMs(quietMs);
        return counter.load() == seen;
    });
}

}  // namespace

TEST(ShutDownOnCables, AWriteHeldByAPausedCableEndsAndEveryWorkerIsFreed) {
    rig::NullModemCable cable;
    EngineRun run({cable.pathA(), cable.pathB()}, [](PortSettings& s) { s.blockSize = 64000; });
    ASSERT_TRUE(run.Settled());
    cable.pause();
    run.Select({0});
    RunPortCommand(run.rows, PortCommand::Write);
    // The ptys fill up and the write blocks, as under flow control.
    ASSERT_TRUE(Stalls(run.Worker(0).bytesWritten, 300));
    ASSERT_EQ(run.Worker(0).txRunning.load(), 1u);

    const uint32_t start = plat::tickCount();
    const ShutDownResult result = run.workers.ShutDown();
    const uint32_t took = plat::ticksBetween(start, plat::tickCount());
    EXPECT_LT(took, kShutDownLimitMs);
    EXPECT_EQ(result.destroyed, 2);
    EXPECT_EQ(result.leftAllocated, 0);
    EXPECT_EQ(run.rows.GetRowWorker(0), nullptr);
    EXPECT_EQ(run.rows.GetRowWorker(1), nullptr);
    cable.resume();
}

TEST(ShutDownOnCables, EndsWhileEveryRowRunsAndTheRefreshKeepsTicking) {
    rig::NullModemCable first;
    rig::NullModemCable second;
    EngineRun run({first.pathA(), first.pathB(), second.pathA(), second.pathB()},
                  [](PortSettings& s) { s.hdTimeout = 2000; });
    ASSERT_TRUE(run.Settled());
    // Half-duplex on one cable, full duplex on the other.
    run.Select({0, 1});
    RunPortCommand(run.rows, PortCommand::HdPairs);
    run.Select({2, 3});
    RunPortCommand(run.rows, PortCommand::All);
    RunPortCommand(run.rows, PortCommand::StartStop);
    std::atomic<bool> done{false};
    std::thread timer([&] {
        while (!done.load()) {
            RefreshRows(run.workers, run.rows);
            plat::sleepMs(5);
        }
    });
    ASSERT_TRUE(WaitUntil(
        [&] { return run.Worker(1).blocksOk.load() >= 3 && run.Worker(3).blocksOk.load() >= 3; }));

    const uint32_t start = plat::tickCount();
    const ShutDownResult result = run.workers.ShutDown();
    EXPECT_LT(plat::ticksBetween(start, plat::tickCount()), kShutDownLimitMs);
    done = true;
    timer.join();
    EXPECT_EQ(result.destroyed, 4);
    EXPECT_EQ(result.leftAllocated, 0);
}
