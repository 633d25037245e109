#include "tester/report/history_table.h"

#include "tester/report/final_table.h"

#include <algorithm>
#include <cstdio>

namespace {

using Lines = std::vector<std::vector<std::string>>;

// Columns as wide as their widest text; numbers to the right, texts to the
// left; the last column is not padded.
std::string Table(const Lines& lines, const std::vector<bool>& numeric) {
    const std::vector<size_t> widths = ColumnWidths(lines);
    std::string out;
    for (const auto& line : lines) {
        std::string text;
        for (size_t c = 0; c < line.size(); ++c) {
            if (c > 0) text += "  ";
            const size_t pad = widths[c] - line[c].size();
            if (numeric[c]) text.append(pad, ' ');
            text += line[c];
            if (!numeric[c] && c + 1 < line.size()) text.append(pad, ' ');
        }
        while (!text.empty() && text.back() == ' ')
            text.pop_back();
        out += text + "\n";
    }
    return out;
}

// "2026-05-01T22:10:05.123Z" as "2026-05-01 22:10:05".
std::string Shown(const std::string& time) {
    if (time.size() < 19) return time;
    return time.substr(0, 10) + " " + time.substr(11, 8);
}

// A text from the database as one cell: control characters (a line break
// typed into --operator, an escape sequence in a unit's name) written as
// escapes, so that no stored text can break the table or drive the
// terminal.
std::string Cell(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        const unsigned char next =
            i + 1 < text.size() ? static_cast<unsigned char>(text[i + 1]) : 0;
        char escape[8];
        if (c == '\n' || c == '\r' || c == '\t') {
            out += c == '\n' ? "\\n" : c == '\r' ? "\\r" : "\\t";
        } else if (c < 0x20 || c == 0x7F) {
            std::snprintf(escape, sizeof escape, "\\x%02x", c);
            out += escape;
        } else if (c == 0xC2 && next >= 0x80 && next <= 0x9F) {  // C1, as UTF-8
            std::snprintf(escape, sizeof escape, "\\u%04x", next);
            out += escape;
            ++i;
        } else if (c == '\\') {
            out += "\\\\";
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

std::string Percent(uint32_t part, uint32_t whole) {
    char text[16];
    std::snprintf(text, sizeof text, "%.1f%%", whole == 0 ? 0.0 : 100.0 * part / whole);
    return text;
}

std::string Scope(const HistoryQuery& query) {
    std::string scope = query.unit.empty() ? "" : " of unit " + Cell(query.unit);
    if (query.sinceMs >= 0) scope += " since " + Shown(Rfc3339Utc(query.sinceMs)) + " UTC";
    return scope;
}

}  // namespace

std::string FormatHistory(const HistoryQuery& query, const HistoryReport& report) {
    std::string out;
    const std::string scope = Scope(query);
    if (report.runs.empty()) return "No runs" + scope + ".\n";

    out += std::to_string(report.runs.size()) + (report.runs.size() == 1 ? " run" : " runs") +
           scope + ", newest first (times in UTC):\n";
    Lines runs = {{"Started", "Unit", "Station", "Operator", "Outcome", "Exit", "Ports", "Failing",
                   "NotOpened", "Secs", "Version", "Run"}};
    for (const PastRun& run : report.runs) {
        int64_t started = 0, ended = 0;
        std::string secs;
        if (ParseUtcTime(run.started, started) && ParseUtcTime(run.ended, ended))
            secs = std::to_string((ended - started + 500) / 1000);
        runs.push_back({Cell(Shown(run.started)), Cell(run.unit), Cell(run.station),
                        Cell(run.operatorName), Cell(run.outcome), std::to_string(run.exitCode),
                        std::to_string(run.ports), std::to_string(run.failing),
                        std::to_string(run.notOpened), secs, Cell(run.version), Cell(run.runId)});
    }
    out += Table(runs,
                 {false, false, false, false, false, true, true, true, true, true, false, false});
    if (!query.unit.empty()) return out;

    out +=
        "\nFirst-pass yield per day (UTC; a unit's first run of the day decides; runs "
        "without --unit, and runs stopped before their time, are not counted):\n";
    if (report.yield.empty()) {
        out += "no run named its unit\n";
    } else {
        Lines yield = {{"Day", "Units", "Passed", "Yield"}};
        for (const YieldDay& day : report.yield)
            yield.push_back({Cell(day.day), std::to_string(day.units), std::to_string(day.passed),
                             Percent(day.passed, day.units)});
        out += Table(yield, {false, true, true, true});
    }

    // Per station and port: every bench has its own /dev/ttyUSB0.
    out += "\nFailures per station and port (runs that tested the port):\n";
    Lines ports = {{"Station", "Port", "Runs", "Failed", "Errors", "Passed"}};
    for (const PortFailures& port : report.failures)
        ports.push_back({Cell(port.station), Cell(port.name), std::to_string(port.runs),
                         std::to_string(port.failed), std::to_string(port.errors),
                         Percent(port.runs - port.failed - port.errors, port.runs)});
    out += Table(ports, {false, false, true, true, true, true});
    return out;
}
