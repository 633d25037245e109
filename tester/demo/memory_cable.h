// A null-modem cable inside the program, between two ports of the demo's
// device server: what one end writes arrives at the other, paced to the
// speed and stop bits its sender set, in chunks of the Pacer's quantum, as
// the pseudo-terminal cable (cable.h) carries it. It needs nothing of the
// system but the server's wake-ups, so it carries the demo's network pairs
// on Windows, where there are no pseudo-terminals.
//
// Like the pseudo-terminal cable it carries 8 data bits without parity;
// the ModemLink beside it carries what a UART would (the modem lines, a
// break, each side's parity). Each direction holds kLineBuffer characters
// that wait for the line, as a driver's transmit queue does: a writer finds
// no room beyond them until the line has taken some, which is what holds a
// server's client back. What has arrived waits for its reader unbounded;
// the server reads its line at every turn but while it holds a piece of
// it for its client (char_delay.h).
//
// Each end is used by its server's thread; the two ends share one lock,
// held only to move bytes in and out.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <utility>

#include "tester/demo/device_line.h"

namespace demo {

constexpr size_t kLineBuffer = 4096;

// The two ends, at `baudRate` with one stop bit. Throws std::system_error
// when the wake-ups cannot be made.
std::pair<std::unique_ptr<DeviceLine>, std::unique_ptr<DeviceLine>> MakeMemoryCable(
    uint32_t baudRate);

}  // namespace demo
