// The checks of flow control, breaks and parity in the reports of an
// unattended run (--check-flow, --check-break, --check-parity): a verdict
// line per check, a result column per check in the table and the CSV
// (`Flow`, `Break`, `Parity`: "passed", "failed", "not supported", "not
// checked") with the words beside them in the CSV (`FlowText`...), and a
// section of the HTML page.
#pragma once

#include <string>
#include <vector>

#include "tester/report/port_result.h"

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
