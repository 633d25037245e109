// The "Flow, break, parity" command of both front ends: the checks of flow
// control, breaks and parity (condition_check.h) on the selected rows,
// paired as the Modem lines command pairs them (line_check_command.h).
// They take seconds, so the front ends run them on the session's check
// thread (TesterSession::StartConditionCheck) and show the results when
// they end, in one box captioned "Flow, break, parity".
#pragma once

#include <string>
#include <vector>

#include "tester/engine/condition_check.h"

constexpr char kConditionCheckCaption[] = "Flow, break, parity";

// The checks the command makes: all three, in that order.
std::vector<ConditionCheck> ConditionChecksOfCommand();

// The results, a heading per port in the order of the outcomes and a line
// per check under it:
//   "1 COM1 > 2 COM2\n  flow: RTS/CTS held it off after 1.2 s; ...\n  break: ..."
//   "3 COM3 (loop-back)\n  flow: not supported\n  ..."
// "" for no outcome.
std::string FormatConditionCheckMessage(const std::vector<ConditionRun>& runs);
