// The modem-line check: which input lines of the far end (CTS, DSR, DCD,
// RI) follow each output line (RTS, DTR) of a port, for a wired pair both
// ways, for a port with a loop-back plug against itself.
//
// Each output line is raised and dropped in turn while the other output
// lines of both ends are low; an input line follows it when it went on
// with it and off again with it. The check polls for the change rather
// than sleeping a fixed time, with a generous bound: a network port learns
// its far end's lines from the device server's modem-state notifications,
// which come a round trip later or, from servers that poll their UARTs,
// up to a second later.
//
// For the check the port's lines are taken out of the driver's hands
// (handshake and RS-485 off, RTS and DTR low); afterwards the port gets its
// settings back, with the lines as they say. Test traffic running meanwhile
// goes on, but a line whose flow control is paused for those seconds may
// see errors: check stopped ports.
//
// The result of each port, for what its own outputs reached:
// - "RTS>CTS ok, DTR>DSR ok, DTR>DCD none": the null-modem cable's lines
//   RTS>CTS, DTR>DSR and DTR>DCD are always named, "ok" or "none"; any
//   other input line that follows is named too ("DTR>RI ok"). The check
//   fails when an output line reaches no input line at all.
// - "not supported": either end has no modem lines (a pseudo-terminal; a
//   network library without QnEscapeCommFunction and QnGetCommModemStatus).
//   Never a failure.
// - "not open", "far end not open", "stopped" (the session ended first):
//   not checked. "failed: <the system's words>" when a call went wrong.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "tester/engine/check_thread.h"

class PortWorker;

enum class LineVerdict { Passed, Failed, NotSupported, NotChecked };

struct LineCheckResult {
    LineVerdict verdict = LineVerdict::NotChecked;
    std::string text;
};

// How a check that could not go on ends for its ports: they have no such
// lines or conditions ("not supported"), the check was stopped
// ("stopped"), the port was lost ("port lost"), or a call failed ("failed:
// " and `why`, the system's words).
enum class CheckHalt { NotSupported, Cancelled, Lost, Failed };
LineCheckResult HaltResult(CheckHalt halt, const std::string& why);

// How long the check gives the lines. The defaults suit real lines and
// device servers; tests shorten them.
struct LineCheckTiming {
    // The longest an input line may take to follow; an output line that
    // reaches nothing costs this much twice over.
    uint32_t followMs = 3000;
    // Once a line has followed, how long the lines must stay as they are
    // before they are read, so that a second line that follows a moment
    // later (another notification) is seen too.
    uint32_t settleMs = 200;
    uint32_t pollMs = 10;
    // Before the check, data still on its way between the ends (a test's
    // last blocks) is dropped until none has come for quietMs, at most for
    // drainMs: over the network the check's commands share one stream
    // with it, and would reach the device server behind it.
    uint32_t quietMs = 500;
    uint32_t drainMs = 30000;
};

// One wired pair, or one port with a loop-back plug (b == a).
struct LineCheckJob {
    PortWorker* a = nullptr;
    PortWorker* b = nullptr;
};

// The jobs for the workers of a set of rows (the selected ones, or all):
// rows 1 and 2, 3 and 4... (rowIndex 2k and 2k+1) are wired pairs, as the
// half-duplex pairing takes them; a worker whose partner is not in the set
// is checked with a loop-back plug. In row order.
std::vector<LineCheckJob> PairForLineCheck(const std::vector<PortWorker*>& workers);

// One port's result: `worker`'s outputs as `farEnd` saw them (the same
// worker for a loop-back plug).
struct LineCheckOutcome {
    PortWorker* worker = nullptr;
    PortWorker* farEnd = nullptr;
    LineCheckResult result;
};

// Runs the jobs side by side (a thread each) and returns their outcomes in
// job order, a before b. `cancelled`, asked while the lines are waited for,
// ends the check early when it returns true (null: never). The workers must
// stay alive throughout.
std::vector<LineCheckOutcome> RunLineCheck(const std::vector<LineCheckJob>& jobs,
                                           const LineCheckTiming& timing,
                                           const std::function<bool()>& cancelled);

// The check on a thread of its own, for a front end that must not wait for
// it. Start and Stop on one thread (the front end's).
class LineCheckThread {
  public:
    using Done = std::function<void(const std::vector<LineCheckOutcome>&)>;

    // Starts the check of `jobs`; when it has ended, `done` is called with
    // the outcomes on the check's thread. False when a check still runs
    // (or its `done` has not returned), or the thread cannot start.
    bool Start(std::vector<LineCheckJob> jobs, const LineCheckTiming& timing, Done done);

    // A check has started and its `done` has not yet returned.
    bool Running() const { return thread_.Running(); }

    // Ends a running check early (its ports get their settings back) and
    // waits up to boundMs for it and its `done`. True once no check runs.
    bool Stop(uint32_t boundMs) { return thread_.Stop(boundMs); }

  private:
    CheckThread thread_;
};
