// Every command on workers whose ports are joined by null-modem cables,
// watched through the rows as an operator watches them: a command, then
// the next refresh.
#include "tester/session/port_commands.h"

#include <gtest/gtest.h>

#include "platform/clock.h"
#include "tester/config/configuration.h"
#include "tester/engine/engine.h"
#include "tester/engine/port_worker.h"
#include "tester/session/row_texts.h"
#include "tester/session/settings_form.h"
#include "tests/support/cable.h"
#include "tests/session/engine_run.h"

using uitest::Cell;
using uitest::EngineRun;
using uitest::WaitUntil;

namespace {

// Rows 0 and 1 on one cable, rows 2 and 3 on another.
struct Cables {
    rig::NullModemCable first;
    rig::NullModemCable second;
    std::vector<std::string> Ports(int n) const {
        std::vector<std::string> all = {first.pathA(), first.pathB(), second.pathA(),
                                        second.pathB()};
        all.resize(static_cast<size_t>(n));
        return all;
    }
};

// The run's settings before the workers start: a reply time-out long
// enough for a loaded machine, so a clean line counts no error.
struct CableRun : EngineRun {
    CableRun(const Cables& cables, int ports, int32_t hdTimeout = 2000)
        : EngineRun(cables.Ports(ports), [=](PortSettings& s) { s.hdTimeout = hdTimeout; }) {}
    void Command(PortCommand c) { RunPortCommand(rows, c); }
    std::vector<std::string> States() {
        Refresh();
        std::vector<std::string> states;
        for (int32_t row = 0; row < rows.RowCount(); ++row)
            states.push_back(State(row));
        return states;
    }
    uint32_t PortBaud(int32_t row) {
        PortWorker& w = Worker(row);
        DCB dcb{};
        EXPECT_TRUE(w.portAccess.GetState(w.portHandle.load(), &dcb));
        return dcb.BaudRate;
    }
};

using States = std::vector<std::string>;

}  // namespace

TEST(CableRows, AFreshlyOpenedPortShowsZeros) {
    Cables cables;
    EngineRun run(cables.Ports(2));
    ASSERT_TRUE(run.Settled());
    run.Refresh();
    const std::string paths[] = {cables.first.pathA(), cables.first.pathB()};
    for (int32_t row = 0; row < 2; ++row) {
        const std::string expected[] = {
            std::to_string(row + 1), paths[row], "0/0", "0/0", "0", "0/0",
            "....../../0000",        "00:00:00", ""};
        for (int c = 0; c < kPortListColumns; ++c)
            EXPECT_EQ(Cell(run.rows, row, c), expected[c]) << "row " << row << " column " << c;
    }
}

TEST(CableRows, DuplexTrafficCountsBothWaysWithoutErrors) {
    Cables cables;
    CableRun run(cables, 2);
    ASSERT_TRUE(run.Settled());
    run.Select({0, 1});
    run.Command(PortCommand::StartStop);
    EXPECT_EQ(run.States(), (States{"Rx/Tx", "Rx/Tx"}));
    ASSERT_TRUE(WaitUntil(
        [&] { return run.Worker(0).blocksOk.load() >= 5 && run.Worker(1).blocksOk.load() >= 5; }));
    run.Command(PortCommand::StartStop);
    EXPECT_EQ(run.States(), (States{"", ""}));
    plat::sleepMs(300);  // let the last transfers count themselves
    run.Refresh();
    for (int32_t row = 0; row < 2; ++row) {
        const PortWorker& w = run.Worker(row);
        EXPECT_EQ(Cell(run.rows, row, 2), FormatCounterPair(w.bytesRead, w.blocksOk));
        EXPECT_EQ(Cell(run.rows, row, 3), FormatCounterPair(w.bytesWritten, w.blocksWritten));
        EXPECT_EQ(Cell(run.rows, row, 5), "0/0");
        EXPECT_EQ(Cell(run.rows, row, 6), "....../../0000");
    }
}

TEST(CableRows, PairsKeyOnFourRowsThenStartStopRunsMastersAndSlaves) {
    Cables cables;
    CableRun run(cables, 4);
    ASSERT_TRUE(run.Settled());
    run.Select({});
    run.Command(PortCommand::HdPairs);
    EXPECT_EQ(run.States(), (States{"M", "S", "M", "S"}));
    for (int32_t row = 0; row < 4; ++row)
        EXPECT_TRUE(run.rows.IsRowSelected(row));
    run.Command(PortCommand::StartStop);
    EXPECT_EQ(run.States(), (States{"M/Tx", "S/Rx", "M/Tx", "S/Rx"}));
    // Masters get their echoes, slaves their blocks.
    ASSERT_TRUE(WaitUntil([&] {
        for (int32_t row = 0; row < 4; ++row)
            if (run.Worker(row).blocksOk.load() < 3) return false;
        return true;
    }));
    run.Refresh();
    for (int32_t row = 0; row < 4; ++row)
        EXPECT_EQ(Cell(run.rows, row, 5), "0/0") << "row " << row;
}

TEST(CableRows, StartStopSwapsAMixOfRunningAndIdleRows) {
    Cables cables;
    CableRun run(cables, 2);
    ASSERT_TRUE(run.Settled());
    run.Select({0});
    run.Command(PortCommand::Read);
    EXPECT_EQ(run.States(), (States{"Rx", ""}));
    run.Select({0, 1});
    run.Command(PortCommand::StartStop);
    // The receiving row stops altogether; its send direction is not started.
    EXPECT_EQ(run.States(), (States{"", "Rx/Tx"}));
    run.Command(PortCommand::StartStop);
    EXPECT_EQ(run.States(), (States{"Rx/Tx", ""}));
    run.Select({1});
    run.Command(PortCommand::Write);
    run.Command(PortCommand::Read);
    EXPECT_EQ(run.States(), (States{"Rx/Tx", "Rx/Tx"}));
    run.Command(PortCommand::Write);
    EXPECT_EQ(run.States(), (States{"Rx/Tx", "Rx"}));
}

TEST(CableRows, ReadOnARunningMasterStartsReceivingWhileTheMasterRoutineGoesOn) {
    Cables cables;
    CableRun run(cables, 2, 200);  // nobody echoes: a time-out every 200 ms
    ASSERT_TRUE(run.Settled());
    PortWorker& master = run.Worker(0);
    run.Select({0});
    run.Command(PortCommand::HdMaster);
    run.Command(PortCommand::StartStop);
    EXPECT_EQ(run.States(), (States{"M/Tx", ""}));
    ASSERT_TRUE(WaitUntil([&] { return master.lastErrorKind.load() == kErrorTimeout; }));

    run.Command(PortCommand::Read);
    EXPECT_EQ(run.States(), (States{"Rx/Tx", ""}));
    EXPECT_EQ(master.mode.load(), ModeDuplex);
    // Only the master routine counts reply time-outs: it is still the one
    // sending, though the mode now says duplex.
    master.lastErrorKind = kErrorNone;
    ASSERT_TRUE(WaitUntil([&] { return master.lastErrorKind.load() == kErrorTimeout; }));
    run.Refresh();
    EXPECT_EQ(Cell(run.rows, 0, 6).substr(6), "/TO/0000");
}

TEST(CableRows, HdSlaveOnARunningRowChangesOnlyTheModeLetter) {
    Cables cables;
    CableRun run(cables, 2);
    ASSERT_TRUE(run.Settled());
    run.Select({0, 1});
    run.Command(PortCommand::StartStop);
    // A direction reads the mode as it starts: wait until all four have.
    // Row 0's receiver, started after the change, would echo as a slave
    // and row 1 would count its own blocks back as errors.
    ASSERT_TRUE(WaitUntil([&] {
        for (int32_t row = 0; row < 2; ++row)
            if (run.Worker(row).blocksWritten.load() == 0 || run.Worker(row).blocksOk.load() == 0)
                return false;
        return true;
    }));
    run.Select({0});
    run.Command(PortCommand::HdSlave);
    EXPECT_EQ(run.States(), (States{"S/Rx/Tx", "Rx/Tx"}));
    // The duplex routines started before go on.
    const uint32_t written = run.Worker(0).blocksWritten.load();
    const uint32_t received = run.Worker(1).blocksOk.load();
    EXPECT_TRUE(WaitUntil([&] {
        return run.Worker(0).blocksWritten.load() > written + 3 &&
               run.Worker(1).blocksOk.load() > received + 3;
    }));
    run.Refresh();
    EXPECT_EQ(Cell(run.rows, 1, 5), "0/0") << Cell(run.rows, 1, 6);
}

TEST(CableRows, ClearOnARunningSlaveDropsTheSAndCountsAgainFromZero) {
    Cables cables;
    CableRun run(cables, 2);
    ASSERT_TRUE(run.Settled());
    run.Select({});
    run.Command(PortCommand::HdPairs);
    run.Command(PortCommand::StartStop);
    PortWorker& slave = run.Worker(1);
    ASSERT_TRUE(WaitUntil([&] { return slave.blocksOk.load() >= 20; }));
    EXPECT_EQ(run.States(), (States{"M/Tx", "S/Rx"}));
    const uint32_t before = slave.blocksOk.load();

    run.Select({1});
    run.Command(PortCommand::Clear);
    EXPECT_EQ(run.States(), (States{"M/Tx", "Rx"}));
    EXPECT_LT(slave.blocksOk.load(), before);
    // The slave routine keeps echoing: both ends go on counting.
    const uint32_t masterOk = run.Worker(0).blocksOk.load();
    EXPECT_TRUE(WaitUntil([&] {
        return slave.blocksOk.load() >= 5 && run.Worker(0).blocksOk.load() > masterOk + 5;
    }));
    run.Refresh();
    EXPECT_EQ(Cell(run.rows, 1, 5), "0/0");
}

TEST(CableRows, PortsSettingsReachOnlyTheSelectedRows) {
    Cables cables;
    CableRun run(cables, 2);
    ASSERT_TRUE(run.Settled());
    run.Select({0, 1});
    run.Command(PortCommand::StartStop);
    ASSERT_TRUE(WaitUntil([&] { return run.Worker(1).blocksOk.load() >= 5; }));
    ASSERT_EQ(run.PortBaud(0), 115200u);

    PortSettingsForm form;
    form.Load();
    ASSERT_TRUE(form.TextChanged(IDC_BAUD_RATE, "9600").ok);
    ASSERT_TRUE(form.TextChanged(IDC_HD_TIMEOUT, "1234").ok);
    ASSERT_TRUE(form.Ok().ok);
    EXPECT_NE(configuration.summaryText.find("9600"), std::string::npos);

    // Nothing selected: the rows go on as they were.
    run.Select({});
    const uint32_t received = run.Worker(1).blocksOk.load();
    RunPortCommand(run.rows, PortCommand::ApplySettings);
    EXPECT_EQ(run.States(), (States{"Rx/Tx", "Rx/Tx"}));
    EXPECT_GE(run.Worker(1).blocksOk.load(), received);
    EXPECT_EQ(run.PortBaud(0), 115200u);
    EXPECT_EQ(run.PortBaud(1), 115200u);
    EXPECT_EQ(run.Worker(1).hdTimeoutMs.load(), 2000u);

    // Row 2 selected: it stops, starts from zero and takes the new settings.
    run.Select({1});
    ApplySettingsToSelected(run.rows);
    EXPECT_EQ(run.States(), (States{"Rx/Tx", ""}));
    // Counted from zero again: only a transfer already under way as the
    // directions stopped may still add its block.
    EXPECT_LE(run.Worker(1).blocksOk.load(), 1u);
    EXPECT_LE(run.Worker(1).bytesRead.load(), 1024u);
    EXPECT_LE(run.Worker(1).blocksWritten.load(), 1u);
    EXPECT_EQ(run.PortBaud(1), 9600u);
    EXPECT_EQ(run.PortBaud(0), 115200u);
    EXPECT_EQ(run.Worker(1).hdTimeoutMs.load(), 1234u);
    EXPECT_EQ(run.Worker(0).hdTimeoutMs.load(), 2000u);
}

// 8, 7 and 8 data bits again, set through "Ports settings" between runs,
// on a cable that (as a UART) carries only the line's data bits: the blocks
// of both ends follow each change, and every run is clean.
TEST(CableRows, AByteSizeChangedBetweenRunsKeepsTheLineClean) {
    Cables cables;
    CableRun run(cables, 2);
    ASSERT_TRUE(run.Settled());
    run.Select({0, 1});
    PortWorker& a = run.Worker(0);
    PortWorker& b = run.Worker(1);
    int round = 0;
    for (uint32_t bits : {8u, 7u, 8u}) {
        SCOPED_TRACE("round " + std::to_string(++round) + ", " + std::to_string(bits) +
                     " data bits");
        configuration.portSettings.byteSize = bits;
        ApplySettingsToSelected(run.rows);
        cables.first.setDataBits(bits);
        run.Command(PortCommand::StartStop);
        ASSERT_TRUE(WaitUntil([&] { return a.blocksOk.load() >= 20 && b.blocksOk.load() >= 20; }))
            << a.rxErrors.load() << " and " << b.rxErrors.load() << " receive errors";
        // Senders first, then the receivers once they have every byte.
        run.Command(PortCommand::Write);
        ASSERT_TRUE(WaitUntil([&] {
            return a.bytesRead.load() == b.bytesWritten.load() &&
                   b.bytesRead.load() == a.bytesWritten.load() && a.rxFill.load() == 0 &&
                   b.rxFill.load() == 0;
        })) << "read "
            << a.bytesRead.load() << " of " << b.bytesWritten.load() << " and "
            << b.bytesRead.load() << " of " << a.bytesWritten.load() << ", partial blocks "
            << a.rxFill.load() << " and " << b.rxFill.load() << ", receive errors "
            << a.rxErrors.load() << " and " << b.rxErrors.load() << ", blocks lost "
            << a.blocksLost.load() << " and " << b.blocksLost.load() << "; "
            << ErrorKindText(a.lastErrorKind.load()) << " and "
            << ErrorKindText(b.lastErrorKind.load());
        run.Command(PortCommand::Read);
        for (PortWorker* w : {&a, &b}) {
            EXPECT_EQ(w->rxErrors.load(), 0u);
            EXPECT_EQ(w->blocksLost.load(), 0u);
            EXPECT_EQ(w->settingsRefused.load(), 0u);
        }
        EXPECT_EQ(a.blocksOk.load(), b.blocksWritten.load());
        EXPECT_EQ(b.blocksOk.load(), a.blocksWritten.load());
    }
}

// A setting the port refuses (1.5 stop bits with 8 data bits, which a
// UART cannot send) leaves the line as it was: the row says so in its
// error description, and the worker goes by what the port really has.
TEST(CableRows, SettingsThePortRefusesAreShownAndTheLineKeepsItsOwn) {
    Cables cables;
    CableRun run(cables, 2);
    ASSERT_TRUE(run.Settled());
    run.Select({0});
    configuration.portSettings.baudRate = 9600;
    configuration.portSettings.stopBits = ONE5STOPBITS;
    ApplySettingsToSelected(run.rows);
    PortWorker& w = run.Worker(0);
    EXPECT_EQ(w.settingsRefused.load(), static_cast<uint32_t>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(run.PortBaud(0), 115200u) << "the port kept its settings";
    EXPECT_EQ(w.Dcb().BaudRate, 115200u) << "and the worker knows it";
    EXPECT_EQ(w.Dcb().StopBits, ONESTOPBIT);
    run.Refresh();
    EXPECT_EQ(Cell(run.rows, 0, 6), "....../SE/0087");
    EXPECT_EQ(w.Snapshot().settingsRefusedText, "The parameter is incorrect");

    // Settings it can take clear the refusal.
    configuration.portSettings.stopBits = ONESTOPBIT;
    ApplySettingsToSelected(run.rows);
    EXPECT_EQ(w.settingsRefused.load(), 0u);
    EXPECT_EQ(run.PortBaud(0), 9600u);
}

TEST(CableRows, NoCellChangesOnceQuitIsSignalled) {
    Cables cables;
    CableRun run(cables, 2);
    ASSERT_TRUE(run.Settled());
    run.Select({0, 1});
    run.Command(PortCommand::StartStop);
    ASSERT_TRUE(WaitUntil([&] { return run.Worker(1).blocksOk.load() >= 2; }));
    run.Refresh();
    const std::vector<RowStore::RowView> before = run.rows.Snapshot();
    SignalQuit();
    run.Worker(0).bytesRead = 123456789;
    run.Worker(1).mode = ModeMaster;
    run.Refresh();
    const std::vector<RowStore::RowView> after = run.rows.Snapshot();
    for (size_t row = 0; row < after.size(); ++row)
        for (int c = 0; c < kPortListColumns; ++c)
            EXPECT_EQ(after[row].cells[c], before[row].cells[c]) << "row " << row << " col " << c;
}
