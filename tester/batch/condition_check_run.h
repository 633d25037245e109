// The checks of flow control, breaks and parity of an unattended run
// (--check-flow, --check-break, --check-parity; condition_check.h): made
// once on every port before the test traffic starts (the wired pairs; a
// port that hears itself with a loop-back plug), then reported with the
// run (report/condition_check_text.h); a failed check is among the port's
// problems, which fails the run. "not supported" and "not checked" fail
// nothing by themselves.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "tester/engine/condition_check.h"
#include "tester/report/port_result.h"

// Makes `checks` on the ports of `jobs` with `timing` (the defaults for
// real lines) and returns one entry per row (by row index). `stop`, asked
// while they wait, cuts them short (null: never).
std::vector<BatchConditions> RunBatchConditionChecks(const std::vector<LineCheckJob>& jobs,
                                                     const std::vector<ConditionCheck>& checks,
                                                     const ConditionTiming& timing,
                                                     const std::function<bool()>& stop);

// Puts each entry into the row of its index; a row without one (not
// checked: its port did not open, or it is in no wired pair) was "not
// open" for every check made.
void AttachConditionChecks(std::vector<BatchRow>& rows, const std::vector<BatchConditions>& checks,
                           const std::vector<ConditionCheck>& made);

// What the failed checks add to the row's problems: "flow: port 1 kept
// sending for 3.0 s while port 2 did not read: RTS/CTS does not hold it
// off". Nothing for any other outcome.
void AddConditionProblems(const BatchRow& row, std::vector<std::string>& problems);
