// A sweep over line speeds (--sweep): the same test at each speed in turn
// on the same ports, each with the rate check, and a verdict per speed like
// the items of a burn-in checklist.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tester/report/port_result.h"

// One speed of a sweep: the rows as its test ended and its verdict.
struct SweepStep {
    uint32_t baudRate = 0;
    std::vector<BatchRow> rows;
    BatchSummary summary;
};

// The speed's verdict line: "19200: passed", or "19200: FAILED: " and the
// reasons ("port 1 (COM1): received 1712 B/s, 10.8% below the line's 1920
// B/s; port 2 (COM2): ..."); ports that were not a paced line are named at
// the end (NotPacedNote).
std::string SweepStepLine(const SweepStep& step);

// The sweep's verdict: "3 speeds swept, 3 passed: passed", or "3 speeds
// swept, 2 passed, 1 failed: FAILED: 19200"; stopped before its time, "2
// speeds swept, 1 passed, 1 failed: aborted after 7.5 s of 15 s, until
// then FAILED: 19200". A speed cut short says so in its own line.
std::string SweepSummaryLine(const std::vector<SweepStep>& steps, const RunAbort& abort = {});

// kBatchNotOpened when a configured port could not be opened, else
// kBatchErrors when any speed failed, else kBatchPassed (none swept:
// kBatchErrors, never a pass).
int SweepExitCode(const std::vector<SweepStep>& steps);

// The rows of every speed in one CSV: the columns of FormatCsv after a
// first one, "BaudRate", speed after speed.
std::string FormatSweepCsv(const std::vector<SweepStep>& steps,
                           const std::vector<std::string>& titles);
