// What an unattended run found, port by port and as a whole: the records
// every report is written from (the final table, the CSV, the HTML page,
// the JSON record, the JUnit file, the history database). The run fills
// them (tester/batch) and judges them; the reports only present them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tester/engine/condition_check.h"
#include "tester/engine/line_check.h"
#include "tester/engine/port_snapshot.h"
#include "tester/engine/row_sink.h"

// Exit codes of an unattended run. A file the run was asked to write that
// could not be written wins over everything: a script that reads the
// report after a 0 or a 3 must not find it missing or cut. A run stopped
// before its time (Ctrl-C, SIGTERM, a console closed) comes next: it has
// no verdict, whatever it found until then. A history database that could
// not take the run (--db) has a code of its own, which wins over the
// test's outcomes (0, 3, 4) only.
constexpr int kBatchPassed = 0;
constexpr int kBatchErrors = 3;
constexpr int kBatchNotOpened = 4;
constexpr int kBatchOutputFailed = 6;
constexpr int kBatchHistoryFailed = 7;
constexpr int kBatchAborted = 8;

// The exit code once an output has failed with `failure`
// (kBatchOutputFailed or kBatchHistoryFailed), by the order above.
int WithOutputFailure(int exitCode, int failure);

// Passed, Failed, NotOpened; NotTested: the port opened but its test never
// started (the run was stopped first), so there is nothing to judge.
enum class PortOutcome { Passed, Failed, NotOpened, NotTested };

// "passed", "failed", "not opened", "not tested".
const char* PortOutcomeName(PortOutcome outcome);

// The modem-line check of one port (--lines).
struct BatchLineCheck {
    bool checked = false;  // the run checked the lines
    LineVerdict verdict = LineVerdict::NotChecked;
    std::string text;    // "RTS>CTS ok, DTR>DSR ok, DTR>DCD none", "not supported"...
    std::string farEnd;  // the far end's number ("2"), or "loop-back"
};

// "passed", "failed", "not supported", "not checked".
const char* LineVerdictName(LineVerdict verdict);

// One row's part of one check of flow control, breaks or parity.
struct BatchConditionCheck {
    bool checked = false;  // the run made this check
    LineVerdict verdict = LineVerdict::NotChecked;
    std::string text;    // "RTS/CTS held it off after 1.2 s; 40 blocks, none lost"...
    std::string farEnd;  // the far end's number ("2"), or "loop-back"
};

// A row's part of all three, by ConditionCheck.
struct BatchConditions {
    BatchConditionCheck flow, breaks, parity;
    BatchConditionCheck& of(ConditionCheck check);
    const BatchConditionCheck& of(ConditionCheck check) const;
};

enum class RateVerdict {
    NotChecked,   // no check asked for, or the port did not open
    HalfDuplex,   // a master or a slave: not judged
    NotMeasured,  // the run was stopped before a window long enough
    Passed,
    Slow,
    Fast,
    NotPaced,  // far faster than its line on a port that cannot be paced: not judged
};

// The rate check of one port (--check-rate, --sweep).
struct RateCheck {
    RateVerdict verdict = RateVerdict::NotChecked;
    uint32_t baud = 0;    // the speed asked for
    double expected = 0;  // bytes per second the settings asked for allow
    double measured = 0;  // bytes per second received in the window
    double ratio = 0;     // measured / expected

    // Whether the window measured this port (it was judged, or found not
    // paced).
    bool Measured() const {
        return verdict == RateVerdict::Passed || verdict == RateVerdict::Slow ||
               verdict == RateVerdict::Fast || verdict == RateVerdict::NotPaced;
    }
};

// "passed", "too slow", "too fast", "not a paced line", "half duplex",
// "not measured"; "" for NotChecked.
const char* RateVerdictText(RateVerdict verdict);

// A time the port received nothing while the test ran, longer than the
// stall limit. Times in milliseconds from the start of the test.
struct Stall {
    uint64_t fromMs = 0;
    uint64_t forMs = 0;
};

// What a receiver got against what its far end sent (the wiring known).
struct Delivery {
    bool accounted = false;      // the source is known and was compared
    int32_t source = -1;         // the row (0-based) it hears; itself for a loop-back
    uint64_t blocksSent = 0;     // by the source
    uint64_t bytesSent = 0;      // by the source
    uint64_t blocksArrived = 0;  // good blocks and blocks counted lost here
    uint64_t bytesArrived = 0;
    uint32_t cutShort = 0;  // bytes of a last block that never came whole
};

// One row of the port list as a test ended, with everything the run found
// on it.
struct BatchRow {
    std::string cells[kPortListColumns];  // the texts the list shows
    bool ready = false;                   // the port opened and its worker got its buffers
    PortSnapshot values;                  // the worker's state and counters at the end
    std::string openFailure;              // why the port did not open, when it did not
    BatchLineCheck lines;                 // the modem-line check, when it ran
    RateCheck rate;                       // the rate check, when one was asked for
    BatchConditions conditions;           // flow, break and parity checks, those made
    // The wiring: the rows this port hears ("2"; its own number for a
    // loop-back plug; "none"; several joined by "+"), "" when nobody
    // asked (no probe, nothing declared) or the port did not open.
    std::string source;
    // The source the bench is declared to have (--wiring), in the same
    // words; "" when none was declared for this port.
    std::string declared;
    Delivery delivery;
    std::vector<Stall> stalls;
    // Whether the port's test started. False when the run was stopped
    // before it, or so soon after that the port moved nothing within the
    // stall limit: silence that short says nothing about the line.
    bool tested = true;
    // The verdict (tester/batch): what keeps the port from passing, each
    // in a few words ("3 receive errors", "lost 1 time"), and the outcome.
    std::vector<std::string> problems;
    PortOutcome outcome = PortOutcome::Passed;
};

// "port 2 (COM2)", as the table's first two cells name it.
std::string PortLabel(const BatchRow& row);

// How the drain after the test ended: the lines went quiet, or it gave up
// at its limit while these rows (0-based) were still receiving.
struct DrainOutcome {
    bool quiet = true;
    uint32_t seconds = 0;
    std::vector<int32_t> stillReceiving;
};

// A run that a stop request cut short: how long its test ran (every speed
// of a sweep together) of how long it was to run.
struct RunAbort {
    bool aborted = false;
    uint64_t ranMs = 0;
    uint64_t plannedMs = 0;
};

struct BatchSummary {
    uint32_t configured = 0;  // port names in the configuration
    uint32_t opened = 0;
    uint32_t notOpened = 0;  // includes configured ports that got no row
    uint32_t failing = 0;    // opened ports with problems
    uint32_t notTested = 0;  // opened ports whose test never started
    // Why the run failed, one entry per failing port ("port 2 (COM2): 3
    // receive errors, lost 1 time") and one for each fault of the run as a
    // whole ("still receiving after 60 s: ports 1, 2").
    std::vector<std::string> reasons;
    // Rows (0-based) that the rate check found far faster than their
    // settings on a port that cannot be paced: said, not failed.
    std::vector<int32_t> notPaced;
    // Set when the run was stopped before its time; the exit code is then
    // kBatchAborted and the reasons are what was found until then.
    RunAbort abort;
    int exitCode = kBatchPassed;
};
