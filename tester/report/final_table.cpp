#include "tester/report/final_table.h"

#include <algorithm>
#include <cstdio>

#include "tester/report/line_check_text.h"
#include "tester/report/condition_check_text.h"
#include "tester/report/measure_columns.h"
#include "tester/engine/port_worker.h"
#include "tester/report/csv_text.h"
#include "tester/session/row_texts.h"

const std::vector<std::string> kBatchExtraTitles = {"Drops", "Lost", "LineErr", "LineErrSeen"};

namespace {

// The extra cells of a row, in the order of kBatchExtraTitles; empty for a
// port that did not open.
std::vector<std::string> ExtraCells(const BatchRow& row) {
    if (!row.ready) return std::vector<std::string>(kBatchExtraTitles.size());
    const PortSnapshot& v = row.values;
    return {std::to_string(v.drops), std::to_string(v.blocksLost), std::to_string(v.lineErrorCount),
            FormatCommErrors(v.lineErrorBits)};
}

// Every cell of a row as the table and the CSV show it.
std::vector<std::string> AllCells(const BatchRow& row, const MeasureColumns& measures) {
    std::vector<std::string> cells(row.cells, row.cells + kPortListColumns);
    for (std::string& extra : ExtraCells(row))
        cells.push_back(std::move(extra));
    for (std::string& measure : MeasureCells(row, measures))
        cells.push_back(std::move(measure));
    return cells;
}

std::vector<std::string> AllTitles(const std::vector<std::string>& titles,
                                   const MeasureColumns& measures) {
    std::vector<std::string> all(kPortListColumns);
    for (int c = 0; c < kPortListColumns && static_cast<size_t>(c) < titles.size(); ++c)
        all[c] = titles[c];
    all.insert(all.end(), kBatchExtraTitles.begin(), kBatchExtraTitles.end());
    for (std::string& measure : MeasureTitles(measures))
        all.push_back(std::move(measure));
    return all;
}

}  // namespace

std::vector<size_t> ColumnWidths(const std::vector<std::vector<std::string>>& lines) {
    std::vector<size_t> widths;
    for (const auto& line : lines) {
        if (widths.size() < line.size()) widths.resize(line.size(), 0);
        for (size_t c = 0; c < line.size(); ++c)
            widths[c] = std::max(widths[c], line[c].size());
    }
    return widths;
}

std::string FormatTable(const std::vector<BatchRow>& rows, const std::vector<std::string>& titles) {
    const MeasureColumns measures = MeasureColumnsOf(rows);
    std::vector<std::vector<std::string>> lines = {AllTitles(titles, measures)};
    for (const BatchRow& row : rows)
        lines.push_back(AllCells(row, measures));
    const std::vector<size_t> widths = ColumnWidths(lines);
    std::string out;
    for (const auto& line : lines) {
        for (size_t c = 0; c < line.size(); ++c) {
            if (c > 0) out += ' ';
            // Every column is as wide as its widest text: right-aligned,
            // nothing cut.
            out.append(widths[c] - line[c].size(), ' ');
            out += line[c];
        }
        out += '\n';
    }
    return out;
}

std::string FormatCsv(const std::vector<BatchRow>& rows, const std::vector<std::string>& titles) {
    return FormatCsvParts("", {CsvPart{"", &rows}}, titles);
}

std::string FormatCsvParts(const std::string& leadTitle, const std::vector<CsvPart>& parts,
                           const std::vector<std::string>& titles) {
    auto line = [](const std::vector<std::string>& fields) {
        std::string text;
        for (size_t c = 0; c < fields.size(); ++c) {
            if (c > 0) text += ',';
            text += CsvField(fields[c]);
        }
        return text + "\r\n";
    };
    // One set of columns for every part, so that the file reads as one table.
    std::vector<BatchRow> all;
    for (const CsvPart& part : parts)
        all.insert(all.end(), part.rows->begin(), part.rows->end());
    const MeasureColumns measures = MeasureColumnsOf(all);
    const bool lead = !leadTitle.empty();
    const bool lines = LinesChecked(all);

    std::vector<std::string> header = AllTitles(titles, measures);
    if (lead) header.insert(header.begin(), leadTitle);
    header.push_back("Result");
    if (lines) header.insert(header.end(), kLineCheckTitles.begin(), kLineCheckTitles.end());
    for (std::string& title : ConditionTextTitles(measures.conditions))
        header.push_back(std::move(title));
    std::string out = line(header);
    for (const CsvPart& part : parts) {
        for (const BatchRow& row : *part.rows) {
            std::vector<std::string> fields = AllCells(row, measures);
            if (lead) fields.insert(fields.begin(), part.lead);
            fields.push_back(PortOutcomeName(row.outcome));
            if (lines)
                for (std::string& cell : LineCheckCells(row))
                    fields.push_back(std::move(cell));
            for (std::string& cell : ConditionTextCells(row, measures.conditions))
                fields.push_back(std::move(cell));
            out += line(fields);
        }
    }
    return out;
}

std::string NotPacedNote(const BatchSummary& s) {
    std::string note;
    for (size_t i = 0; i < s.notPaced.size(); ++i)
        note += (i == 0 ? "; not a paced line: ports " : ", ") + std::to_string(s.notPaced[i] + 1);
    return note;
}

std::string AbortedText(const RunAbort& abort) {
    char text[96];
    std::snprintf(text, sizeof text, "aborted after %.1f s of %g s",
                  static_cast<double>(abort.ranMs) / 1000.0,
                  static_cast<double>(abort.plannedMs) / 1000.0);
    return text;
}

std::string FindingsUntilAbort(const std::vector<std::string>& reasons) {
    if (reasons.empty()) return ", no fault found until then";
    std::string text = ", until then FAILED";
    for (size_t i = 0; i < reasons.size(); ++i)
        text += (i == 0 ? ": " : "; ") + reasons[i];
    return text;
}

std::string SummaryLine(const BatchSummary& s) {
    std::string line = std::to_string(s.configured) + " ports configured, " +
                       std::to_string(s.opened) + " opened, " + std::to_string(s.notOpened) +
                       " not opened, " + std::to_string(s.failing) + " failing";
    if (s.notTested != 0) line += ", " + std::to_string(s.notTested) + " not tested";
    line += ": ";
    if (s.abort.aborted)
        return line + AbortedText(s.abort) + FindingsUntilAbort(s.reasons) + NotPacedNote(s);
    if (s.exitCode == kBatchPassed) return line + "passed" + NotPacedNote(s);
    line += "FAILED";
    for (size_t i = 0; i < s.reasons.size(); ++i)
        line += (i == 0 ? ": " : "; ") + s.reasons[i];
    return line + NotPacedNote(s);
}

std::string ProgressLine(uint32_t secondsDone, uint32_t secondsTotal,
                         const std::vector<BatchRow>& rows) {
    uint64_t received = 0, sent = 0, errors = 0;
    uint32_t running = 0;
    for (const BatchRow& row : rows) {
        if (!row.ready) continue;
        const PortSnapshot& v = row.values;
        received += v.bytesRead;
        sent += v.bytesWritten;
        errors += uint64_t{v.rxErrors} + v.txErrors;
        if (v.rxRunning || v.txRunning) ++running;
    }
    char line[200];
    std::snprintf(line, sizeof line,
                  "%u/%u s: %u ports running, %llu bytes received, %llu sent, %llu errors",
                  secondsDone, secondsTotal, running, static_cast<unsigned long long>(received),
                  static_cast<unsigned long long>(sent), static_cast<unsigned long long>(errors));
    return line;
}
