// The modem-line check in the reports of an unattended run (--lines): a
// verdict line of its own, two CSV columns, a section of the HTML page.
#pragma once

#include <string>
#include <vector>

#include "tester/report/port_result.h"

// The verdict line of a check made on pairs of ports (the modem lines;
// flow control, breaks, parity): each port's outcome added, then the line
// "<name>: 6 ports, 2 passed, 0 failed, 4 not supported, 0 not checked:
// passed", or "...: FAILED: port 1 (COM1) to port 2: <text>; ...".
class CheckTally {
  public:
    void Add(const BatchRow& row, LineVerdict verdict, const std::string& farEnd,
             const std::string& text);
    std::string Line(const std::string& name) const;

  private:
    uint32_t count_[4] = {0, 0, 0, 0};
    std::vector<std::string> failures_;
};

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
