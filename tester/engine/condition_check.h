// The checks of what a line does when it is held off or goes wrong, for a
// wired pair both ways and for a port with a loop-back plug against
// itself: does flow control hold the sender off, does a break reach the
// far end, are parity errors noticed. Each drives the ports' workers as
// the commands do (their receive and send directions, blocks and
// counters) and borrows their line settings only as long as it needs
// them (line_borrow.h).
//
// Flow: the receiving end stops reading while the sender goes on writing
// blocks. The sender must be held off, its bytes sent standing still for
// two block times (half a second at least; on a network port, whose
// library hands its data to the socket in steps that can take a second
// each at 115200 bit/s, for stallBytes' time on the line), before it has
// sent holdBytes past the moment the receiver stopped, or holdMinMs if
// that is longer;
// then the receiver reads again and every block sent must arrive whole,
// with no overrun (CE_OVERRUN, CE_RXOVER). The bound is generous: a
// UART's driver holds a sender off within a few KB (4 KB of receive
// buffer and as much to send on Linux), a network port through its device
// server within a few tens of KB (the library reads 8 KB ahead before it
// asks the server to pause). It is the settings that say which handshake
// to expect: RTS/CTS (the sender's OutxCtsFlow, the receiver's RTS
// handshake), DTR/DSR (OutxDsrFlow, DTR handshake) or XON/XOFF (OutX, the
// receiver's InX). The blocks carry no XON or XOFF (test_block.h: the
// pattern sends 0x12 and 0x14 for them, and the tag and the digits have
// neither), so an XON/XOFF line reads none of them as flow control.
//
// Break: the port holds its line in the break state for breakMs; its
// partner must report a break (CE_BREAK) within reportMs and then receive
// carryBlocks blocks whole.
//
// Parity: the port sends burstBlocks blocks with the other parity (odd for
// even, space for mark); its partner must report parity errors
// (CE_RXPARITY) within reportMs of the burst. Then the port has its own
// parity back and carryBlocks blocks must arrive whole.
//
// A pair with a direction running is not checked ("stop the test first"),
// and none of it is done on a pseudo-terminal ("not supported", line kind
// of port_access.h). Right before each check the blocks still on their way
// are dropped, until nothing has come for quietMs (drainMs at most). After
// it both ports have their settings back, nothing running, and counters,
// line errors and the receiver's place in the block stream start from
// zero, as after Clear (the mode stays).
//
// The result of each port is about what it sent: its sending held off by
// its partner, its break, its burst. Texts, for port 1 to port 2:
//   "RTS/CTS held it off after 1.2 s; 40 blocks, none lost"
//   "port 1 kept sending for 3.0 s while port 2 did not read: RTS/CTS does
//    not hold it off"
//   "port 2 overran while held off: 3 blocks lost"
//   "port 1 sent nothing to port 2 in 3.0 s" (a handshake input never on)
//   "port 2 reported it; 4 blocks after it arrived whole"
//   "port 2 reported no break within 3.0 s"
//   "port 2 flagged odd parity; 4 blocks after it arrived whole"
//   "port 2 flagged no parity error in 2 blocks with odd parity"
//   "not checked (no flow control set)", "not checked (no parity set)",
//   "not supported", "stop the test first", "not open", "far end not
//   open", "stopped", "port lost", "failed: <the system's words>".
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <vector>

#include "platform/thread.h"
#include "tester/engine/check_thread.h"
#include "tester/engine/line_check.h"

enum class ConditionCheck { Flow, Break, Parity };

// "flow", "break", "parity".
const char* ConditionCheckName(ConditionCheck check);

// How long the checks give the lines. The defaults suit real lines and
// device servers; tests shorten them.
struct ConditionTiming {
    uint32_t holdBytes = 65536;
    uint32_t holdMinMs = 3000;
    uint32_t stallMs = 500;  // or two block times, if longer
    // On a network port the sender must stand still for this much at its
    // line's rate (stallMs at least) to count as held off.
    uint32_t stallBytes = 24576;
    // Blocks must start to arrive within this (or four block times).
    uint32_t startMs = 3000;
    uint32_t breakMs = 250;
    uint32_t reportMs = 3000;
    uint32_t burstBlocks = 2;
    uint32_t carryBlocks = 4;
    uint32_t quietMs = 500;
    uint32_t drainMs = 30000;
    uint32_t pollMs = 10;
};

// One check's outcomes, a before b in job order, as RunLineCheck gives
// them (line_check.h).
struct ConditionRun {
    ConditionCheck check = ConditionCheck::Flow;
    std::vector<LineCheckOutcome> outcomes;
};

// Runs the `checks` in the order given on every job, the jobs side by side
// (a thread each). `cancelled`, asked while the checks wait, ends them
// early when it returns true (null: never). The workers must stay alive
// throughout; nothing else may start or stop their directions meanwhile.
std::vector<ConditionRun> RunConditionChecks(const std::vector<LineCheckJob>& jobs,
                                             const std::vector<ConditionCheck>& checks,
                                             const ConditionTiming& timing,
                                             const std::function<bool()>& cancelled);

// The checks on a thread of their own, for a front end that must not wait
// for them. Start and Stop on one thread (the front end's).
class ConditionCheckThread {
  public:
    using Done = std::function<void(const std::vector<ConditionRun>&)>;

    // False when checks still run (or their `done` has not returned), or
    // the thread cannot start.
    bool Start(std::vector<LineCheckJob> jobs, std::vector<ConditionCheck> checks,
               const ConditionTiming& timing, Done done);
    bool Running() const { return thread_.Running(); }
    // Ends running checks early and waits up to boundMs. True once none run.
    bool Stop(uint32_t boundMs) { return thread_.Stop(boundMs); }

  private:
    CheckThread thread_;
};
