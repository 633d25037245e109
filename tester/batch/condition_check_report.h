// The checks of flow control, breaks and parity in an unattended run
// (--check-flow, --check-break, --check-parity; condition_check.h): run
// once on every port before the test traffic starts (ports 1 and 2, 3 and
// 4... as wired pairs; a last odd port with a loop-back plug), then
// reported with the run as the modem-line check is (line_check_report.h):
// a verdict line per check, a result column per check in the table and
// the CSV (`Flow`, `Break`, `Parity`: "passed", "failed", "not
// supported", "not checked") with the words beside them in the CSV
// (`FlowText`...), a section of the HTML report, and a failed check among
// the port's problems, which fails the run. "not supported" and "not
// checked" fail nothing by themselves.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "tester/engine/condition_check.h"

class WorkerGroup;
struct BatchRow;

// One row's part of one check, for the reports.
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

// Makes `checks` on every worker with `timing` (the defaults for real
// lines) and returns one entry per row (by row index). `stop`, asked while
// they wait, cuts them short (null: never).
std::vector<BatchConditions> RunBatchConditionChecks(WorkerGroup& workers,
                                                     const std::vector<ConditionCheck>& checks,
                                                     const ConditionTiming& timing,
                                                     const std::function<bool()>& stop);

// Puts each entry into the row of its index; a row without one (no worker)
// was "not open" for every check made.
void AttachConditionChecks(std::vector<BatchRow>& rows, const std::vector<BatchConditions>& checks,
                           const std::vector<ConditionCheck>& made);

// What the failed checks add to the row's problems: "flow: port 1 kept
// sending for 3.0 s while port 2 did not read: RTS/CTS does not hold it
// off". Nothing for any other outcome.
void AddConditionProblems(const BatchRow& row, std::vector<std::string>& problems);

// The checks the rows carry, in the order flow, break, parity.
std::vector<ConditionCheck> ConditionsChecked(const std::vector<BatchRow>& rows);

// Whether any row's check failed (a sweep fails on it as well).
bool ConditionsFailed(const std::vector<BatchRow>& rows);

// "flow: 4 ports, 2 passed, 0 failed, 2 not supported, 0 not checked:
// passed", or "...: FAILED: port 1 (COM1) to port 2: port 1 kept
// sending ..." naming every port whose check failed.
std::string ConditionVerdictLine(const std::vector<BatchRow>& rows, ConditionCheck check);

// The result columns for the checks the rows carry ("Flow", "Break",
// "Parity", in the table, the CSV and the HTML report's rows, beside the
// measures: measure_columns.h) and a row's cells there; and the CSV's
// columns with the words ("FlowText"...) and a row's cells there.
std::vector<std::string> ConditionTitles(const std::vector<ConditionCheck>& checks);
std::vector<std::string> ConditionCells(const BatchRow& row,
                                        const std::vector<ConditionCheck>& checks);
std::vector<std::string> ConditionTextTitles(const std::vector<ConditionCheck>& checks);
std::vector<std::string> ConditionTextCells(const BatchRow& row,
                                            const std::vector<ConditionCheck>& checks);

// The HTML report's section, "" when the run made none of the checks;
// `escape` makes text safe in HTML.
std::string ConditionsSection(const std::vector<BatchRow>& rows,
                              std::string (*escape)(const std::string&));
