// The "Modem lines" command of both front ends: the modem-line check
// (line_check.h) of the selected rows, paired as the key z pairs them
// (rows 1 and 2, 3 and 4...); a selected row whose partner is not selected
// is checked with a loop-back plug. The check takes seconds, so the front
// ends run it on the session's check thread (TesterSession::StartLineCheck)
// and show its results when it ends, in one box captioned "Modem lines".
#pragma once

#include <string>
#include <vector>

#include "tester/engine/line_check.h"

class PortList;

constexpr char kLineCheckCaption[] = "Modem lines";

// "1 COM1 > 2 COM2", "3 COM3 (loop-back)": the heading of a port's result
// in the check's box, as the list's first two columns show the ports.
std::string OutcomeHeading(const LineCheckOutcome& outcome);

// The jobs for the selected rows that have a worker.
std::vector<LineCheckJob> LineCheckJobsForSelection(PortList& rows);

// The results, one line per port in the order of the outcomes:
// "1 COM1 > 2 COM2: RTS>CTS ok, DTR>DSR ok, DTR>DCD none",
// "3 COM3 (loop-back): not supported". "" for no outcome.
std::string FormatLineCheckMessage(const std::vector<LineCheckOutcome>& outcomes);
