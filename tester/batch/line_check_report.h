// The modem-line check of an unattended run (--lines): run once on every
// port before the test traffic starts (ports 1 and 2, 3 and 4... as wired
// pairs; a last odd port with a loop-back plug), then reported with the
// run: a verdict line of its own, two CSV columns, a section of the HTML
// report, and a failed check among the port's problems, which fails the
// run. "not supported" (no modem lines) and a port that was not checked
// (it or its far end did not open) fail nothing by themselves.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "tester/engine/line_check.h"

class WorkerGroup;
struct BatchRow;

// One row's part of the check, for the reports.
struct BatchLineCheck {
    bool checked = false;  // the run checked the lines (--lines)
    LineVerdict verdict = LineVerdict::NotChecked;
    std::string text;    // "RTS>CTS ok, DTR>DSR ok, DTR>DCD none", "not supported"...
    std::string farEnd;  // the far end's number ("2"), or "loop-back"
};

// Checks every worker's lines and returns one entry per row (by row
// index), with `timing` (the defaults for real lines). `stop`, asked while
// it waits, cuts it short (null: never).
std::vector<BatchLineCheck> RunBatchLineCheck(WorkerGroup& workers, const LineCheckTiming& timing,
                                              const std::function<bool()>& stop);

// Puts each entry into the row of its index.
void AttachLineChecks(std::vector<BatchRow>& rows, const std::vector<BatchLineCheck>& checks);

// What a failed check adds to the row's problems: "modem lines: RTS>CTS
// none, DTR>DSR ok, DTR>DCD none". Nothing for any other outcome.
void AddLineCheckProblem(const BatchRow& row, std::vector<std::string>& problems);

// Whether the rows carry the check (and the reports its columns).
bool LinesChecked(const std::vector<BatchRow>& rows);

// Whether any row's check failed (a sweep, whose speeds are judged
// without it, fails on it as well).
bool LinesFailed(const std::vector<BatchRow>& rows);

// "lines: 6 ports, 2 passed, 0 failed, 4 not supported, 0 not checked:
// passed", or "...: FAILED: port 1 (COM1) to port 2: RTS>CTS none, ..."
// naming every port whose check failed.
std::string LinesVerdictLine(const std::vector<BatchRow>& rows);

// The CSV columns after Result: "Lines" (the text) and "LinesResult"
// ("passed", "failed", "not supported", "not checked").
extern const std::vector<std::string> kLineCheckTitles;
std::vector<std::string> LineCheckCells(const BatchRow& row);

// "passed", "failed", "not supported", "not checked".
const char* LineVerdictName(LineVerdict verdict);
