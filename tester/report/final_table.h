// The final rows of an unattended run as a table for the terminal and as
// CSV, the run's summary line and its progress line.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tester/report/port_result.h"

// The titles the table and the CSV add after the list's nine columns.
extern const std::vector<std::string> kBatchExtraTitles;

// The rows under the column titles (the list's nine, kBatchExtraTitles,
// then the measures the run has: measure_columns.h), one row per line, each
// cell right-aligned in a column as wide as its widest text, cells
// separated by one blank (the cells hold no line breaks).
std::string FormatTable(const std::vector<BatchRow>& rows, const std::vector<std::string>& titles);

// The same as CSV (RFC 4180: comma-separated, CRLF line ends, a field
// quoted when it holds a comma, a quote or a line break), titles first,
// with one more column: the port's result ("passed", "failed", "not
// opened"); then, when the rows carry the modem-line check, its columns
// (kLineCheckTitles).
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
// 5, 6"). A run stopped before its time says so and what it found until
// then: "...: aborted after 2.5 s of 5 s, no fault found until then", or
// "..., until then FAILED: " and the reasons.
std::string SummaryLine(const BatchSummary& summary);
// "aborted after 2.5 s of 5 s".
std::string AbortedText(const RunAbort& abort);
// ", no fault found until then", or ", until then FAILED: " and the reasons.
std::string FindingsUntilAbort(const std::vector<std::string>& reasons);
// That end alone, "" when there are none.
std::string NotPacedNote(const BatchSummary& summary);

// The width of each column of `lines` (rows of cells): its widest text.
std::vector<size_t> ColumnWidths(const std::vector<std::vector<std::string>>& lines);

// A progress line for the terminal while the run goes on.
std::string ProgressLine(uint32_t secondsDone, uint32_t secondsTotal,
                         const std::vector<BatchRow>& rows);
