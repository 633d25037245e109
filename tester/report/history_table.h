// What `vesktest --history` prints: the past runs as a table, newest first,
// and for every unit (no --unit) the first-pass yield per day and the
// failures per station and port, each under a title line. Control
// characters in the stored texts are shown as escapes ("\n", "\x1b").
#pragma once

#include <string>

#include "tester/report/run_history.h"

std::string FormatHistory(const HistoryQuery& query, const HistoryReport& report);
