// Workers, rows, commands and the shut-down with ports that never open:
// no serial line is needed, so these run natively and under Wine alike.
#include "tester/engine/worker_group.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "platform/clock.h"
#include "platform/event.h"
#include "tester/config/configuration.h"
#include "tester/engine/engine.h"
#include "tester/engine/port_worker.h"
#include "tester/session/port_commands.h"
#include "tester/session/refresh.h"
#include "tests/session/engine_run.h"

using uitest::Cell;
using uitest::EngineRun;

namespace {

// Port names that open nothing here: no such device on Linux, hidden in
// the test prefix under Wine.
std::vector<std::string> MissingPorts(int n) {
    std::vector<std::string> names;
    for (int i = 0; i < n; ++i)
        names.push_back("COM" + std::to_string(241 + i));
    return names;
}

std::vector<int32_t> SelectedRows(PortList& rows) {
    std::vector<int32_t> selected;
    rows.ForEachRow(true, [&](int32_t row) { selected.push_back(row); });
    return selected;
}

}  // namespace

TEST(CreateWorkers, MakesOneRowPerPortInFileOrderWithNormalisedNames) {
    EngineRun run({" com245 ", "com246", "COM247"});
    ASSERT_TRUE(run.Settled());
    EXPECT_EQ(run.workers.Count(), 3);
    const char* names[] = {"COM245", "COM246", "COM247"};
    for (int32_t row = 0; row < 3; ++row) {
        EXPECT_EQ(run.Worker(row).rowIndex, row);
        EXPECT_EQ(Cell(run.rows, row, 0), std::to_string(row + 1));
        EXPECT_EQ(Cell(run.rows, row, 1), names[row]);
        EXPECT_EQ(run.State(row), "Not open");
        EXPECT_EQ(run.Worker(row).PortName(), names[row]);
    }
}

TEST(RefreshRows, NeverTouchesARowWhosePortDidNotOpen) {
    EngineRun run(MissingPorts(2));
    ASSERT_TRUE(run.Settled());
    PortWorker& w = run.Worker(1);
    w.bytesRead = 4096;
    w.rxRunning = 1;
    for (int tick = 0; tick < 3; ++tick)
        run.Refresh();
    for (int32_t row = 0; row < 2; ++row) {
        for (int c = 2; c <= 7; ++c) {
            // The error description holds why the port did not open.
            const std::string want = c == kColumnErrDesc ? run.Worker(row).OpenFailure() : "";
            EXPECT_EQ(Cell(run.rows, row, c), want) << "row " << row << " column " << c;
        }
        EXPECT_NE(run.Worker(row).OpenFailure(), "");
        EXPECT_EQ(run.State(row), "Not open");
    }
}

TEST(PortCommands, PurgeAndClearOnANotOpenRowChangeNothingVisible) {
    EngineRun run(MissingPorts(2));
    ASSERT_TRUE(run.Settled());
    run.Select({0, 1});
    run.Worker(0).mode = ModeMaster;
    run.Worker(0).rxErrors = 3;
    const std::vector<RowStore::RowView> before = run.rows.Snapshot();
    RunPortCommand(run.rows, PortCommand::Purge);
    RunPortCommand(run.rows, PortCommand::Clear);
    run.Refresh();
    const std::vector<RowStore::RowView> after = run.rows.Snapshot();
    ASSERT_EQ(after.size(), before.size());
    for (size_t row = 0; row < after.size(); ++row)
        for (int c = 0; c < kPortListColumns; ++c)
            EXPECT_EQ(after[row].cells[c], before[row].cells[c]) << "row " << row << " col " << c;
    // The fields changed all the same; only nobody shows them.
    EXPECT_EQ(run.Worker(0).mode.load(), ModeDuplex);
    EXPECT_EQ(run.Worker(0).rxErrors.load(), 0u);
}

TEST(RefreshCommErrors, KeepsOnlyTheShownBitsAndSpellsThem) {
    EngineRun run(MissingPorts(1));
    ASSERT_TRUE(run.Settled());
    PortWorker& w = run.Worker(0);
    // The port is not open: ClearError fails and the bits stay to be masked.
    w.commErrors = CE_MODE | CE_TXFULL | CE_OVERRUN | CE_IOE;
    RefreshCommErrors(w);
    EXPECT_EQ(w.commErrors.load(), static_cast<uint32_t>(CE_TXFULL | CE_OVERRUN));
    EXPECT_EQ(w.CommErrorText(), "O....T");
    w.commErrors = CE_MODE;
    RefreshCommErrors(w);
    EXPECT_EQ(w.commErrors.load(), 0u);
    EXPECT_EQ(w.CommErrorText(), "......");

    w.lastErrorKind = kErrorWrite;
    UpdateErrorKindText(w);
    EXPECT_EQ(w.LastErrorKindText(), "WR");
    w.lastErrorKind = 7;
    UpdateErrorKindText(w);
    EXPECT_EQ(w.LastErrorKindText(), "??");
}

TEST(SelectionCommands, OddEvenAndAllOnFiveRows) {
    EngineRun run(MissingPorts(5));
    ASSERT_TRUE(run.Settled());
    run.Select({1, 3});  // whatever was selected before
    RunPortCommand(run.rows, PortCommand::Odd);
    EXPECT_EQ(SelectedRows(run.rows), (std::vector<int32_t>{0, 2, 4}));  // "#" 1, 3, 5
    RunPortCommand(run.rows, PortCommand::Even);
    EXPECT_EQ(SelectedRows(run.rows), (std::vector<int32_t>{1, 3}));  // "#" 2, 4
    RunPortCommand(run.rows, PortCommand::All);
    EXPECT_EQ(SelectedRows(run.rows), (std::vector<int32_t>{0, 1, 2, 3, 4}));
}

TEST(SelectionCommands, ARowWithoutAWorkerIsLeftByOddAndEvenButTakenByAllAndPairs) {
    EngineRun run(MissingPorts(2));
    ASSERT_TRUE(run.Settled());
    ASSERT_TRUE(run.rows.InsertRow(2));  // a row whose worker never came
    run.Select({2});
    RunPortCommand(run.rows, PortCommand::Odd);
    EXPECT_EQ(SelectedRows(run.rows), (std::vector<int32_t>{0, 2}));
    RunPortCommand(run.rows, PortCommand::Even);
    EXPECT_EQ(SelectedRows(run.rows), (std::vector<int32_t>{1, 2}));
    run.Select({});
    RunPortCommand(run.rows, PortCommand::All);
    EXPECT_EQ(SelectedRows(run.rows), (std::vector<int32_t>{0, 1, 2}));
    run.Select({});
    RunPortCommand(run.rows, PortCommand::HdPairs);
    EXPECT_EQ(SelectedRows(run.rows), (std::vector<int32_t>{0, 1, 2}));
}

TEST(PortCommands, HdPairsSetsModesOnEveryRowAndTheOthersOnlyOnSelectedOnes) {
    EngineRun run(MissingPorts(4));
    ASSERT_TRUE(run.Settled());
    run.Select({});
    RunPortCommand(run.rows, PortCommand::HdPairs);
    const uint32_t paired[] = {ModeMaster, ModeSlave, ModeMaster, ModeSlave};
    for (int32_t row = 0; row < 4; ++row)
        EXPECT_EQ(run.Worker(row).mode.load(), paired[row]) << "row " << row;

    run.Select({0, 3});
    RunPortCommand(run.rows, PortCommand::HdSlave);
    EXPECT_EQ(run.Worker(0).mode.load(), ModeSlave);
    EXPECT_EQ(run.Worker(2).mode.load(), ModeMaster);
    RunPortCommand(run.rows, PortCommand::HdMaster);
    EXPECT_EQ(run.Worker(0).mode.load(), ModeMaster);
    EXPECT_EQ(run.Worker(3).mode.load(), ModeMaster);
    EXPECT_EQ(run.Worker(1).mode.load(), ModeSlave);
    RunPortCommand(run.rows, PortCommand::Write);
    EXPECT_EQ(run.Worker(0).mode.load(), ModeDuplex);
    EXPECT_EQ(run.Worker(0).txRunning.load(), 1u);
    EXPECT_EQ(run.Worker(0).rxRunning.load(), 0u);
    EXPECT_EQ(run.Worker(2).txRunning.load(), 0u);
}

TEST(WorkerGroupShutDown, WithNoPortConfiguredEndsAtOnce) {
    EngineRun run({});
    const uint32_t start = plat::tickCount();
    const ShutDownResult result = run.workers.ShutDown();
    EXPECT_EQ(result.destroyed, 0);
    EXPECT_EQ(result.leftAllocated, 0);
    EXPECT_LT(plat::ticksBetween(start, plat::tickCount()), 2000u);
}

TEST(WorkerGroupShutDown, FreesTheWorkersAndClearsTheirRowsSoCommandsReachNothing) {
    EngineRun run(MissingPorts(3));
    ASSERT_TRUE(run.Settled());
    const ShutDownResult result = run.workers.ShutDown();
    EXPECT_EQ(result.destroyed, 3);
    EXPECT_EQ(result.leftAllocated, 0);
    EXPECT_EQ(run.workers.Count(), 0);
    for (int32_t row = 0; row < 3; ++row)
        EXPECT_EQ(run.rows.GetRowWorker(row), nullptr);
    // Freed workers would be touched here (AddressSanitizer catches that).
    run.Select({0, 1, 2});
    for (size_t i = 0; i < kPortCommandCount; ++i)
        RunPortCommand(run.rows, kPortCommands[i].command);
    run.Refresh();
    EXPECT_EQ(run.State(0), "Not open");
    // A second shut-down has nothing left to do.
    EXPECT_EQ(run.workers.ShutDown().destroyed, 0);
}

namespace {

// A row store that can hold a refresh tick in its first cell write, after
// it has read a worker, as a list operation held up by a busy window
// thread does.
class TickHoldingRowStore : public RowStore {
  public:
    bool SetCellText(int32_t row, int column, const char* text) override {
        if (std::this_thread::get_id() == timerThread && holdNext.exchange(false)) {
            held.set();
            release.wait(plat::kInfinite);
        }
        return RowStore::SetCellText(row, column, text);
    }
    std::thread::id timerThread;
    std::atomic<bool> holdNext{false};
    plat::Event held{plat::Event::ManualReset};
    plat::Event release{plat::Event::ManualReset};
};

}  // namespace

TEST(WorkerGroupShutDown, ATickHeldAcrossTheShutDownNeverReadsTheFreedWorker) {
    uitest::UseDefaultConfiguration(MissingPorts(2));
    ASSERT_TRUE(InitTestEngine());
    TickHoldingRowStore rows;
    WorkerGroup workers(rows);
    ASSERT_EQ(workers.CreateWorkers(configuration.portNames, configuration.portSettings), 2);
    ASSERT_TRUE(uitest::WaitUntil([&] { return Cell(rows, 1, 8) == "Not open"; }));
    // Taken for ready, so that the ticks read them and write their rows
    // (the port calls on the unopened ports fail quietly).
    for (int32_t i = 0; i < workers.Count(); ++i)
        workers.At(i)->notReady = 0;

    std::atomic<bool> done{false};
    std::atomic<uint32_t> ticks{0};
    rows.holdNext = true;
    std::thread timer([&] {
        rows.timerThread = std::this_thread::get_id();  // read by others only once held
        while (!done.load()) {
            RefreshRows(workers, rows);
            ticks.fetch_add(1);
        }
    });
    ASSERT_EQ(rows.held.wait(10000), 0);
    // The shut-down must not wait for the held tick, and the tick, once
    // let go, must not reach the freed workers.
    const ShutDownResult result = workers.ShutDown();
    EXPECT_EQ(result.destroyed, 2);
    rows.release.set();
    const uint32_t seen = ticks.load();
    EXPECT_TRUE(uitest::WaitUntil([&] { return ticks.load() > seen + 10; }));
    done = true;
    timer.join();
    ClearQuitForTesting();
}

namespace {

// A row store whose InsertRow holds the calling port thread until the test
// lets it go: a worker whose thread cannot end in time.
class HeldRowStore : public RowStore {
  public:
    bool InsertRow(int32_t rowIndex) override {
        entered.set();
        release.wait(plat::kInfinite);
        return RowStore::InsertRow(rowIndex);
    }
    plat::Event entered{plat::Event::ManualReset};
    plat::Event release{plat::Event::ManualReset};
};

}  // namespace

TEST(WorkerGroupShutDown, LeavesAWorkerWhoseThreadOutlivesTheBoundAllocated) {
    uitest::UseDefaultConfiguration({"COM249"});
    ASSERT_TRUE(InitTestEngine());
    // The worker's thread may write its row after the test: the rows live
    // for the rest of the process, as the front ends keep theirs.
    static HeldRowStore* rows = new HeldRowStore;
    WorkerGroup workers(*rows);
    ASSERT_EQ(workers.CreateWorkers(configuration.portNames, configuration.portSettings), 1);
    ASSERT_EQ(rows->entered.wait(10000), 0);

    const uint32_t start = plat::tickCount();
    const ShutDownResult result = workers.ShutDown(300);
    const uint32_t took = plat::ticksBetween(start, plat::tickCount());
    EXPECT_EQ(result.destroyed, 0);
    EXPECT_EQ(result.leftAllocated, 1);
    EXPECT_GE(took, 300u);
    EXPECT_LT(took, 3000u);

    // Let the thread go on: it makes its row, finds quitEvent set and no
    // port, and ends inside the worker that was kept for it.
    rows->release.set();
    EXPECT_TRUE(uitest::WaitUntil([] { return Cell(*rows, 0, 8) == "Not open"; }));
    PortWorker* kept = rows->GetRowWorker(0);
    ASSERT_NE(kept, nullptr);
    EXPECT_TRUE(uitest::WaitUntil([&] { return kept->ThreadsEnded(); }));
    ClearQuitForTesting();
}
