// What an unattended run reports: the final rows as a table and as CSV,
// what keeps each port from passing, the verdict and the exit code.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tester/batch/condition_check_report.h"
#include "tester/batch/line_check_report.h"
#include "tester/batch/rate_check.h"
#include "tester/engine/latency_histogram.h"
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
    std::string openFailure;              // why the port could not be opened, when it was not
    std::string settingsRefused;          // why the port refused the line settings, when it did
    BatchLineCheck lines;                 // the modem-line check (--lines), when it ran
    LatencySummary roundTrips;            // a half-duplex master's round trips (when ready)
    RateCheck rate;                       // the rate check, when one was asked for
    BatchConditions conditions;           // flow, break and parity checks, those made
};

// What keeps one port from passing, each in a few words ("3 receive
// errors", "lost 1 time", "received nothing"); none when it passes. A port
// passes only when it opened, data went both ways (a line that sends into
// a broken wire counts no error, its reads just come back empty), no
// receive, send or line error was counted, the port was never lost, and,
// for a half-duplex master, every block came back; and, with the rate
// check, the port received at its line's rate (RateProblem).
std::vector<std::string> PortProblems(const BatchRow& row);

// How the drain after the test ended: the lines went quiet, or it gave up
// at its limit while these rows (0-based) were still receiving.
struct DrainOutcome {
    bool quiet = true;
    uint32_t seconds = 0;
    std::vector<int32_t> stillReceiving;
};

struct BatchSummary {
    uint32_t configured = 0;  // port names in the configuration
    uint32_t opened = 0;
    uint32_t notOpened = 0;  // includes configured ports that got no row
    uint32_t failing = 0;    // opened ports with problems
    // Why the run failed, one entry per failing port ("port 2 (COM2): 3
    // receive errors, lost 1 time") and one for a drain that did not end
    // ("still receiving after 60 s: ports 1, 2").
    std::vector<std::string> reasons;
    // Rows (0-based) that the rate check found far faster than their
    // settings: said, not failed.
    std::vector<int32_t> notPaced;
    int exitCode = kBatchPassed;
};

// kBatchNotOpened when any configured port was not opened (a port without
// a row included: its worker could not be made), else kBatchErrors when any
// open port has problems or the drain did not end, else kBatchPassed. The
// first wins because a run that could not reach every line tested less than
// it was asked to, whatever it found on the others.
BatchSummary Summarise(const std::vector<BatchRow>& rows, uint32_t configuredPorts,
                       const DrainOutcome& drain = DrainOutcome());

// The titles the table and the CSV add after the list's nine columns.
extern const std::vector<std::string> kBatchExtraTitles;

// The rows under the column titles (the list's nine, kBatchExtraTitles,
// then the measures the run has: measure_columns.h), one row per line, each cell right-aligned in a
// column as wide as its widest text, cells separated by one blank (the cells hold no line breaks).
std::string FormatTable(const std::vector<BatchRow>& rows, const std::vector<std::string>& titles);

// The same as CSV (RFC 4180: comma-separated, CRLF line ends, a field
// quoted when it holds a comma, a quote or a line break), titles first,
// with one more column: the port's result ("passed", "failed", "not
// opened"); then, when the rows carry the modem-line check, its columns
// (kLineCheckTitles), and the words of the flow, break and parity checks
// they carry (ConditionTextTitles).
std::string FormatCsv(const std::vector<BatchRow>& rows, const std::vector<std::string>& titles);

// Several runs' rows in one CSV file (a sweep's speeds): the columns of
// FormatCsv after a first column `leadTitle`, which each part's rows give
// as `lead`. One header line; the measure columns are those any part needs.
struct CsvPart {
    std::string lead;
    const std::vector<BatchRow>* rows;
};
std::string FormatCsvParts(const std::string& leadTitle, const std::vector<CsvPart>& parts,
                           const std::vector<std::string>& titles);

// One line that says how the run went and, when it failed, why; ports that
// were not a paced line are named at its end ("; not a paced line: ports
// 5, 6").
std::string SummaryLine(const BatchSummary& summary);
// That end alone, "" when there are none.
std::string NotPacedNote(const BatchSummary& summary);

// A progress line for the terminal while the run goes on.
std::string ProgressLine(uint32_t secondsDone, uint32_t secondsTotal,
                         const std::vector<BatchRow>& rows);
