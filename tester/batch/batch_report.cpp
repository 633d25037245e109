#include "tester/batch/batch_report.h"

#include <algorithm>
#include <cstdio>

#include "tester/ui/csv_text.h"

PortVerdict JudgePort(const BatchRow& row) {
    if (!row.ready) return PortVerdict::NotOpened;
    const RowValues& v = row.values;
    if (v.rxErrors != 0 || v.txErrors != 0) return PortVerdict::Errors;
    if (v.bytesRead == 0 || v.bytesWritten == 0) return PortVerdict::NoData;
    return PortVerdict::Clean;
}

BatchSummary Summarise(const std::vector<BatchRow>& rows, uint32_t configuredPorts) {
    BatchSummary s;
    s.configured = configuredPorts;
    uint32_t withRow = 0;
    for (const BatchRow& row : rows) {
        ++withRow;
        switch (JudgePort(row)) {
            case PortVerdict::NotOpened:
                ++s.notOpened;
                break;
            case PortVerdict::Errors:
                ++s.opened;
                ++s.withErrors;
                break;
            case PortVerdict::NoData:
                ++s.opened;
                ++s.withoutData;
                break;
            case PortVerdict::Clean:
                ++s.opened;
                break;
        }
    }
    if (configuredPorts > withRow) s.notOpened += configuredPorts - withRow;
    if (s.notOpened != 0) {
        s.exitCode = kBatchNotOpened;
    } else if (s.withErrors != 0 || s.withoutData != 0) {
        s.exitCode = kBatchErrors;
    } else {
        s.exitCode = kBatchPassed;
    }
    return s;
}

std::string FormatTable(const std::vector<BatchRow>& rows, const std::vector<std::string>& titles) {
    std::vector<int> widths(kPortListColumns, 0);
    for (int c = 0; c < kPortListColumns; ++c) {
        if (static_cast<size_t>(c) < titles.size()) widths[c] = static_cast<int>(titles[c].size());
        for (const BatchRow& row : rows)
            widths[c] = std::max(widths[c], static_cast<int>(row.cells[c].size()));
    }
    std::string out;
    auto line = [&](auto cellOf) {
        for (int c = 0; c < kPortListColumns; ++c) {
            if (c > 0) out += ' ';
            // Every column is as wide as its widest text: right-aligned,
            // nothing cut.
            const std::string text = cellOf(c);
            out.append(static_cast<size_t>(widths[c]) - text.size(), ' ');
            out += text;
        }
        out += '\n';
    };
    line([&](int c) { return static_cast<size_t>(c) < titles.size() ? titles[c] : std::string(); });
    for (const BatchRow& row : rows)
        line([&](int c) { return row.cells[c]; });
    return out;
}

std::string FormatCsv(const std::vector<BatchRow>& rows, const std::vector<std::string>& titles) {
    std::string out;
    for (int c = 0; c < kPortListColumns; ++c) {
        if (c > 0) out += ',';
        if (static_cast<size_t>(c) < titles.size()) out += CsvField(titles[c]);
    }
    out += "\r\n";
    for (const BatchRow& row : rows) {
        for (int c = 0; c < kPortListColumns; ++c) {
            if (c > 0) out += ',';
            out += CsvField(row.cells[c]);
        }
        out += "\r\n";
    }
    return out;
}

std::string SummaryLine(const BatchSummary& s) {
    char line[256];
    const char* verdict = s.exitCode == kBatchPassed   ? "passed"
                          : s.exitCode == kBatchErrors ? "FAILED (errors, or a port moved no data)"
                                                       : "FAILED (a port could not be opened)";
    std::snprintf(line, sizeof line,
                  "%u ports configured, %u opened, %u not opened, %u with errors, "
                  "%u without data: %s",
                  s.configured, s.opened, s.notOpened, s.withErrors, s.withoutData, verdict);
    return line;
}

std::string ProgressLine(uint32_t secondsDone, uint32_t secondsTotal,
                         const std::vector<BatchRow>& rows) {
    uint64_t received = 0, sent = 0, errors = 0;
    uint32_t running = 0;
    for (const BatchRow& row : rows) {
        if (!row.ready) continue;
        const RowValues& v = row.values;
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
