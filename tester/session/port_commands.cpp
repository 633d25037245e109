#include "tester/session/port_commands.h"

#include "tester/engine/port_worker.h"
#include "tester/session/port_list.h"

namespace {

// Runs `act` on the worker of every selected row that has one.
template <typename Act>
void ForEachSelectedWorker(PortList& rows, Act act) {
    rows.ForEachRow(true, [&](int32_t row) {
        if (PortWorker* worker = rows.GetRowWorker(row)) act(*worker);
    });
}

// Odd and Even: a row with a worker is selected exactly when its number
// (rowIndex + 1) has the wanted parity; rows without a worker keep theirs.
void SelectByNumber(PortList& rows, bool oddNumbers) {
    rows.ForEachRow(false, [&](int32_t row) {
        if (PortWorker* worker = rows.GetRowWorker(row))
            rows.SetRowSelected(row, (worker->rowIndex % 2 == 0) == oddNumbers);
    });
}

void HdPairs(PortList& rows) {
    rows.ForEachRow(false, [&](int32_t row) {
        if (PortWorker* worker = rows.GetRowWorker(row)) worker->PairByRow();
        rows.SetRowSelected(row, true);
    });
}

}  // namespace

void ApplySettingsToSelected(PortList& rows) {
    ForEachSelectedWorker(rows, [](PortWorker& w) { w.ApplySettings(); });
}

void RunPortCommand(PortList& rows, PortCommand command) {
    switch (command) {
        case PortCommand::StartStop:
            ForEachSelectedWorker(rows, [](PortWorker& w) { w.ToggleRun(); });
            break;
        case PortCommand::Read:
            ForEachSelectedWorker(rows, [](PortWorker& w) { w.ToggleRead(); });
            break;
        case PortCommand::Write:
            ForEachSelectedWorker(rows, [](PortWorker& w) { w.ToggleWrite(); });
            break;
        case PortCommand::HdMaster:
            ForEachSelectedWorker(rows, [](PortWorker& w) { w.SetMode(ModeMaster); });
            break;
        case PortCommand::HdSlave:
            ForEachSelectedWorker(rows, [](PortWorker& w) { w.SetMode(ModeSlave); });
            break;
        case PortCommand::Odd:
            SelectByNumber(rows, true);
            break;
        case PortCommand::Even:
            SelectByNumber(rows, false);
            break;
        case PortCommand::All:
            rows.ForEachRow(false, [&](int32_t row) { rows.SetRowSelected(row, true); });
            break;
        case PortCommand::HdPairs:
            HdPairs(rows);
            break;
        case PortCommand::Clear:
            ForEachSelectedWorker(rows, [](PortWorker& w) { w.Clear(); });
            break;
        case PortCommand::Purge:
            ForEachSelectedWorker(rows, [](PortWorker& w) { w.Purge(); });
            break;
        case PortCommand::ApplySettings:
            ApplySettingsToSelected(rows);
            break;
        case PortCommand::ModemLines:
        case PortCommand::Conditions:
            break;
    }
}

const PortCommandInfo kPortCommands[] = {
    {PortCommand::StartStop, "Start/Stop", "Start/stop read/write operation for selected ports",
     true},
    {PortCommand::Read, "Read", "Start/stop read operation for selected ports", true},
    {PortCommand::Write, "Write", "Start/stop write operation for selected ports", true},
    {PortCommand::HdMaster, "HD Master", "Set Half-Duplex Master mode for selected ports", true},
    // Two blanks before "selected", as the window has always shown it.
    {PortCommand::HdSlave, "HD Slave", "Set Half-Duplex Slave mode for  selected ports", true},
    {PortCommand::Odd, "Odd", "Select odd ports", false},
    {PortCommand::Even, "Even", "Select even ports", false},
    {PortCommand::All, "All", "Select all ports", false},
    {PortCommand::Clear, "Clear", "Clear stats selected ports", true},
    {PortCommand::Purge, "Purge", "Purge selected ports", true},
    {PortCommand::ModemLines, "Modem lines",
     "Check the modem lines of selected ports (pairs 1+2, 3+4...; a lone port as a loop-back)",
     true},
    {PortCommand::Conditions, "Flow, break, parity",
     "Check flow control, breaks and parity of selected ports (pairs 1+2, 3+4...; a lone port "
     "as a loop-back)",
     true},
    {PortCommand::ApplySettings, "Ports settings", "Setting selected ports", true},
    {PortCommand::HdPairs, "z", "", false},
};
const size_t kPortCommandCount = sizeof kPortCommands / sizeof kPortCommands[0];

const PortCommandInfo& InfoOf(PortCommand command) {
    for (const PortCommandInfo& info : kPortCommands)
        if (info.command == command) return info;
    return kPortCommands[0];  // unreachable: every command is in the table
}

bool SeparatorBefore(PortCommand command) {
    switch (command) {
        case PortCommand::Read:
        case PortCommand::HdMaster:
        case PortCommand::Odd:
        case PortCommand::Clear:
        case PortCommand::ApplySettings:
            return true;
        default:
            return false;
    }
}
