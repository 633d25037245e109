// A whole tester session as every front end drives it, on a real
// (pseudo-terminal) cable: the file's settings and ports in, rows made and
// refreshed by the session's own timer, commands on the rows, the last look
// at live workers, the shut-down, and the file written back.
#include "tester/session/tester_session.h"

#include <gtest/gtest.h>

#include "platform/clock.h"
#include "tester/config/configuration.h"
#include "tester/demo/demo_ports.h"
#include "tester/engine/engine.h"
#include "tester/engine/line_check.h"
#include "tester/engine/port_worker.h"
#include "tester/session/port_commands.h"
#include "tester/session/row_store.h"
#include "tests/support/cable.h"
#include "tests/support/scratch_dir.h"

namespace {

bool WaitUntil(const std::function<bool()>& done, uint32_t timeoutMs = 15000) {
    const uint32_t start = plat::tickCount();
    while (!done()) {
        if (plat::ticksBetween(start, plat::tickCount()) > timeoutMs) return false;
        plat::sleepMs(20);
    }
    return true;
}

std::string Cell(RowStore& rows, int32_t row, int column) {
    std::string text = "<none>";
    rows.GetCellText(row, column, text);
    return text;
}

}  // namespace

TEST(TesterSession, RunsFromTheFileToTheFileOverACable) {
    rig::ScratchDir dir("vesk-session-");
    rig::NullModemCable cable;
    const std::string ini = dir.file("bench.ini");
    rig::ScratchDir::write(ini, "[Ports]\n" + cable.pathA() + "\n" + cable.pathB() +
                                    "\n[Misc]\nBlockSize=512\nHDTimeout=0\n");
    SetConfigPath(ini.c_str());

    RowStore rows;
    TesterSession session(rows);
    EXPECT_FALSE(session.RowsInUse());
    session.LoadConfiguration();
    EXPECT_EQ(configuration.portCount, 2u);
    EXPECT_EQ(configuration.portSettings.blockSize, 512u);
    ASSERT_TRUE(session.Start());
    EXPECT_TRUE(session.RowsInUse());
    ASSERT_EQ(session.Workers().Count(), 2);

    // The rows come from the workers, and the refresh (nobody else here)
    // fills their counters and state.
    ASSERT_TRUE(WaitUntil([&] {
        for (int32_t row = 0; row < 2; ++row)
            if (!rows.GetRowWorker(row) || rows.GetRowWorker(row)->notReady.load() != 0)
                return false;
        return true;
    }));
    RunPortCommand(rows, PortCommand::All);
    RunPortCommand(rows, PortCommand::StartStop);
    ASSERT_TRUE(WaitUntil([&] { return Cell(rows, 0, kColumnState) == "Rx/Tx"; }));
    ASSERT_TRUE(WaitUntil([&] { return Cell(rows, 1, kColumnRx) != "0/0"; }));
    EXPECT_EQ(Cell(rows, 1, kColumnName), cable.pathB());
    RunPortCommand(rows, PortCommand::StartStop);

    // The workers go by the session's settings: the record the file is
    // saved from changes nothing for them until the session takes it.
    configuration.portSettings.blockSize = 2048;
    RunPortCommand(rows, PortCommand::StartStop);
    ASSERT_TRUE(WaitUntil([&] { return rows.GetRowWorker(1)->Snapshot().rxBusy; }));
    EXPECT_EQ(rows.GetRowWorker(1)->Snapshot().blockSize, 512u);
    RunPortCommand(rows, PortCommand::StartStop);
    PortSettings smaller = session.Settings();
    smaller.blockSize = 256;
    session.ChangeSettings(smaller);
    RunPortCommand(rows, PortCommand::StartStop);
    ASSERT_TRUE(WaitUntil([&] { return rows.GetRowWorker(1)->Snapshot().blockSize == 256; }));
    RunPortCommand(rows, PortCommand::StartStop);

    // A worker's notice reaches the front end's handler in the system's
    // words, on the worker's thread, and the worker goes on.
    std::vector<Notice> notices;
    session.SetNoticeHandler([&](const Notice& notice) { notices.push_back(notice); });
    WorkerEvents& events = session;
    events.LineStateUnreadable(1, cable.pathB());
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_EQ(notices[0].text, "Error 'GETCOMMSTATE' for " + cable.pathB());
    EXPECT_EQ(notices[0].caption, "Error");

    // The last look sees the final counters written and the workers alive.
    uint32_t blocksSeen = 0;
    bool looked = false;
    session.Stop([&] {
        looked = true;
        PortWorker* worker = rows.GetRowWorker(1);
        ASSERT_NE(worker, nullptr);
        blocksSeen = worker->blocksOk.load();
        EXPECT_EQ(Cell(rows, 1, kColumnRx),
                  std::to_string(worker->bytesRead.load()) + "/" + std::to_string(blocksSeen));
    });
    EXPECT_TRUE(looked);
    EXPECT_GT(blocksSeen, 0u);
    EXPECT_FALSE(session.RowsInUse());
    EXPECT_EQ(rows.GetRowWorker(0), nullptr);
    EXPECT_EQ(rows.GetRowWorker(1), nullptr);

    ASSERT_TRUE(session.Save());
    const std::string saved = rig::ScratchDir::read(ini);
    EXPECT_NE(saved.find("BlockSize=2048"), std::string::npos) << saved;
    EXPECT_NE(saved.find(cable.pathB()), std::string::npos) << "[Ports] is kept";

    // A file that cannot be written says so, and why.
    const std::string gone = dir.file("gone") + "/bench.ini";
    SetConfigPath(gone.c_str());
    EXPECT_FALSE(session.Save());
    EXPECT_EQ(session.SaveFailure(),
              "Cannot save the settings to " + gone + ": No such file or directory");
    ClearQuitForTesting();
}

// The modem lines of a network pair checked right after a test run was
// stopped, at 38400 bit/s: seconds of the test's blocks are still on
// their way behind stopped receivers, in the same streams as the check's
// commands. The lines must still be found as the device server joins them.
TEST(TesterSession, ChecksTheModemLinesOfANetworkPairRightAfterARun) {
    demo::DemoPorts::Options options;
    options.pairs = 0;
    options.networkPair = true;
    std::string error;
    const std::unique_ptr<demo::DemoPorts> demo = demo::DemoPorts::Create(options, error);
    ASSERT_NE(demo, nullptr) << error;
    SetConfigPath(demo->ConfigPath().c_str());

    RowStore rows;
    TesterSession session(rows);
    session.LoadConfiguration();
    configuration.portSettings.baudRate = 38400;
    ASSERT_TRUE(session.Start());
    ASSERT_EQ(session.Workers().Count(), 2);
    ASSERT_TRUE(WaitUntil([&] {
        for (int32_t row = 0; row < 2; ++row)
            if (!rows.GetRowWorker(row) || rows.GetRowWorker(row)->notReady.load() != 0)
                return false;
        return true;
    })) << "the network library or the device server is missing";
    RunPortCommand(rows, PortCommand::All);
    RunPortCommand(rows, PortCommand::StartStop);
    ASSERT_TRUE(WaitUntil([&] { return rows.GetRowWorker(1)->blocksOk.load() >= 3; }));
    RunPortCommand(rows, PortCommand::StartStop);

    const std::vector<LineCheckOutcome> out = RunLineCheck(
        PairForLineCheck({rows.GetRowWorker(0), rows.GetRowWorker(1)}), LineCheckTiming(), nullptr);
    ASSERT_EQ(out.size(), 2u);
    for (const LineCheckOutcome& o : out) {
        EXPECT_EQ(o.result.text, "RTS>CTS ok, DTR>DSR ok, DTR>DCD ok");
        EXPECT_EQ(o.result.verdict, LineVerdict::Passed);
    }
    session.Stop(nullptr);
    ClearQuitForTesting();
}
