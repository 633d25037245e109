// The texts of a port row's cells 2 to 8, made from plain values, so that
// the refresh, the terminal front end's unattended table and the tests all
// print a worker the same way.
//
// Counters are printed unsigned and in full: the byte and block counters
// are 64 bits wide and pass 2^31 within hours on a fast line.
#pragma once

#include <cstdint>
#include <string>

#include "tester/engine/port_snapshot.h"
#include "tester/engine/row_sink.h"

// The line-error bits the row shows; any other bit (CE_MODE...) is dropped
// from the worker's commErrors and never shown.
constexpr uint32_t kShownCommErrors = 0x11F;

// Six letters for the bits of `commErrors` in the order O F P B R T
// (CE_OVERRUN, CE_FRAME, CE_RXPARITY, CE_BREAK, CE_RXOVER, CE_TXFULL), "."
// for a clear bit; "......" when none of the shown bits is set.
std::string FormatCommErrors(uint32_t commErrors);

// "%llu/%llu" (Rx#, Tx#, Err#).
std::string FormatCounterPair(uint64_t first, uint64_t second);

// "%llu" (CPS).
std::string FormatCounter(uint64_t value);

// ErrDesc: the line-error letters, "/", the error kind's code, "/", then
// the system error as "%04d": "....../../0000", "O...../RD/0031".
std::string FormatErrorDescription(const std::string& commErrorText, const std::string& kindText,
                                   uint32_t lastOsError);

// Time: whole seconds of `elapsedMs` as "%02d:%02d:%02d"; hours are not
// wrapped at 24 ("100:00:00").
std::string FormatElapsed(uint64_t elapsedMs);

// State: the mode letter ("" duplex, "M" master, "S" any other mode), "/"
// when a half-duplex mode has a running direction, then "Rx", "/" when
// both run, "Tx": "", "Rx/Tx", "M", "M/Tx", "S/Rx", "S/Rx/Tx"...
// Non-zero running flags count as running.
std::string FormatState(uint32_t mode, uint32_t rxRunning, uint32_t txRunning);

// State while a lost port is being opened again: short enough for the
// column, whatever the mode.
constexpr const char kStateDown[] = "Down";

// The State cell of a port in any state: "Open" while it is being opened,
// with what it will do once open when commands came meanwhile ("Open
// M/Tx"); "Not open" when it could not be; "Open" when it opened but got no
// buffers (it does nothing more); the mode and directions (FormatState)
// while open; kStateDown while it is being opened again.
std::string StateCellText(const PortSnapshot& port);

// Why a port runs without the line settings it was given, for the
// operator: "the driver set 115200 bit/s for 921600", or "line settings
// refused: " and the system's words. "" when it took them.
std::string SettingsRefusedText(const PortSnapshot& port);

constexpr int kFirstRefreshedColumn = kColumnRx;
constexpr int kRefreshedColumns = kColumnState - kColumnRx + 1;

// Cells 2 to 8 in column order: cells.text[c - kFirstRefreshedColumn] is
// column c, made from a worker's snapshot. State is kStateDown while the
// port is down.
struct RowCells {
    std::string text[kRefreshedColumns];
};
RowCells FormatRowCells(const PortSnapshot& values);
