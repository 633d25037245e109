// The commands of the Ports menu, the context menu and the key z, over the
// rows of the port list: the front ends map their menu items and keys to
// these and nothing else.
//
// Every command runs on the front end's own thread (the one that also runs the
// session's end) and reaches workers only through the rows. It acts on
// the selected rows, or on every row for the selection commands and
// HdPairs, in position order; a row without a worker is skipped except by
// "All" and HdPairs, which select every row. No command reports anything:
// on a port that is not open the port calls fail quietly and the field
// changes still happen.
#pragma once

#include <cstddef>

class PortList;

enum class PortCommand {
    StartStop,      // "Start/Stop": ToggleRun of each selected worker
    Read,           // "Read": duplex mode, flip the receive direction
    Write,          // "Write": duplex mode, flip the send direction
    HdMaster,       // "HD Master": master mode; nothing starts or stops
    HdSlave,        // "HD Slave": slave mode; nothing starts or stops
    Odd,            // "Odd": select exactly rows 1, 3, 5... (as shown in "#")
    Even,           // "Even": select exactly rows 2, 4, 6...
    All,            // "All": select every row
    HdPairs,        // key z: rows 1, 3... masters, 2, 4... slaves; all selected
    Clear,          // "Clear": duplex mode, counters and error fields to 0
    Purge,          // "Purge": abort and clear the port both ways, read its errors
    ModemLines,     // "Modem lines": the line check, run by the front end (line_check_command.h)
    Conditions,     // "Flow, break, parity": those checks, run by the front end
                    // (condition_check_command.h)
    ApplySettings,  // "Ports settings", after the form's OK: see ApplySettingsToSelected
};

// Runs one command. For PortCommand::ApplySettings this is
// ApplySettingsToSelected: the front end calls it only after the settings
// form has been confirmed (and has shown the new summaryText itself).
// PortCommand::ModemLines and PortCommand::Conditions do nothing here:
// they take seconds and report, so the front end runs them on the
// session's check threads.
void RunPortCommand(PortList& rows, PortCommand command);

// "Ports settings" after OK: each selected worker stops both directions,
// zeroes its counters and error fields (the mode stays), takes the new line
// settings onto its port and the half-duplex time-out from the settings.
// Rows not selected keep their line settings; the block size, read by
// every worker when a direction starts, changes for all of them anyway.
void ApplySettingsToSelected(PortList& rows);

// How the front ends present a command: its menu text and the help text
// shown while it is highlighted ("" for HdPairs, which has no menu entry).
struct PortCommandInfo {
    PortCommand command;
    const char* menuText;  // "Start/Stop", "Read"... ; "z" for HdPairs
    const char* helpText;
    bool inContextMenu;  // the context menu leaves out Odd, Even and All
};

// Every command in the order of the Ports menu, HdPairs last (it is in no
// menu).
extern const PortCommandInfo kPortCommands[];
extern const size_t kPortCommandCount;

// The entry of `command` in kPortCommands (never null).
const PortCommandInfo& InfoOf(PortCommand command);

// Whether the Ports menu has a separator line before `command` (the context
// menu has the same ones among the commands it shows).
bool SeparatorBefore(PortCommand command);
