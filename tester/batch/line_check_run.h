// The modem-line check of an unattended run (--lines): run once on every
// port before the test traffic starts (the wired pairs; a port that hears
// itself with a loop-back plug), then reported with the run
// (report/line_check_text.h); a failed check is among the port's problems,
// which fails the run. "not supported" (no modem lines) and a port that
// was not checked (it or its far end did not open) fail nothing by
// themselves.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "tester/engine/line_check.h"
#include "tester/report/port_result.h"

// Checks the lines of `jobs` (line_check.h) and returns one entry per row
// (by row index), with `timing` (the defaults for real lines). `stop`,
// asked while it waits, cuts it short (null: never).
std::vector<BatchLineCheck> RunLineCheckJobs(const std::vector<LineCheckJob>& jobs,
                                             const LineCheckTiming& timing,
                                             const std::function<bool()>& stop);

// Puts each entry into the row of its index.
void AttachLineChecks(std::vector<BatchRow>& rows, const std::vector<BatchLineCheck>& checks);

// What a failed check adds to the row's problems: "modem lines: RTS>CTS
// none, DTR>DSR ok, DTR>DCD none". Nothing for any other outcome.
void AddLineCheckProblem(const BatchRow& row, std::vector<std::string>& problems);
