// What an unattended run reports: the final rows as a table and as CSV,
// the verdict on each port and the exit code.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tester/session/row_texts.h"

// Exit codes of an unattended run.
constexpr int kBatchPassed = 0;
constexpr int kBatchErrors = 3;
constexpr int kBatchNotOpened = 4;

// One row of the port list as the run ended.
struct BatchRow {
    std::string cells[kPortListColumns];  // the texts the list shows
    bool ready = false;                   // the port opened and its worker got its buffers
    RowValues values;                     // the worker's counters at the end (when ready)
};

enum class PortVerdict {
    NotOpened,  // "Not open", or stuck in "Open" (its buffers could not be had)
    Errors,     // receive or send errors were counted
    NoData,     // no errors, but nothing was received or nothing was sent
    Clean,      // data moved both ways without an error
};

// A port passes only when data went both ways: a line that sends into a
// broken wire counts no error (its reads just come back empty), and must
// not pass for clean.
PortVerdict JudgePort(const BatchRow& row);

struct BatchSummary {
    uint32_t configured = 0;  // port names in the configuration
    uint32_t opened = 0;
    uint32_t notOpened = 0;  // includes configured ports that got no row
    uint32_t withErrors = 0;
    uint32_t withoutData = 0;
    int exitCode = kBatchPassed;
};

// kBatchNotOpened when any configured port was not opened (a port without
// a row included: its worker could not be made), else kBatchErrors when any
// open port counted errors or moved no data, else kBatchPassed. The first
// wins because a run that could not reach every line tested less than it
// was asked to, whatever it found on the others.
BatchSummary Summarise(const std::vector<BatchRow>& rows, uint32_t configuredPorts);

// The rows under the column titles, one row per line, each cell right-
// aligned in a column as wide as its widest text, cells separated by one
// blank (the cells hold no line breaks).
std::string FormatTable(const std::vector<BatchRow>& rows, const std::vector<std::string>& titles);

// The same as CSV (RFC 4180: comma-separated, CRLF line ends, a field
// quoted when it holds a comma, a quote or a line break), titles first.
std::string FormatCsv(const std::vector<BatchRow>& rows, const std::vector<std::string>& titles);

// One line that says how the run went and why, for the end of the output.
std::string SummaryLine(const BatchSummary& summary);

// A progress line for the terminal while the run goes on.
std::string ProgressLine(uint32_t secondsDone, uint32_t secondsTotal,
                         const std::vector<BatchRow>& rows);
