#include "tester/report/html_report.h"

#include <algorithm>
#include <cstdio>

#include "tester/report/final_table.h"
#include "tester/report/line_check_text.h"
#include "tester/report/condition_check_text.h"
#include "tester/report/measure_columns.h"
#include "tester/engine/port_worker.h"
#include "platform/name_table.h"

namespace {

std::string Escape(const std::string& text) {
    std::string out;
    for (char c : text) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            case '\'':
                out += "&#39;";
                break;
            default:
                out += c;
        }
    }
    return out;
}

// Only ever given doubles and a literal format with as many conversions.
template <class... Numbers>
std::string Format(const char* format, Numbers... numbers) {
    char text[160];
    std::snprintf(text, sizeof text, format, static_cast<double>(numbers)...);
    return text;
}

// "1:02:03", "2:03": elapsed time on the chart's axis and in the marks.
std::string Duration(double seconds) {
    const long s = static_cast<long>(seconds + 0.5);
    char text[32];
    if (s >= 3600)
        std::snprintf(text, sizeof text, "%ld:%02ld:%02ld", s / 3600, s / 60 % 60, s % 60);
    else
        std::snprintf(text, sizeof text, "%ld:%02ld", s / 60, s % 60);
    return text;
}

// "passed", "failed", "not-opened" or "not-tested", as the CSV report's
// Result says it.
const char* VerdictName(const BatchRow& row) {
    static const char* const kNames[] = {"passed", "failed", "not-opened", "not-tested"};
    return plat::NameOf(row.outcome, kNames);
}

std::string Joined(const std::vector<std::string>& problems) {
    std::string text;
    for (const std::string& problem : problems)
        text += (text.empty() ? "" : ", ") + problem;
    return text;
}

// One point of a port's chart: a sample, or a run of samples when the
// series is longer than the chart can show.
struct Point {
    double seconds = 0;
    uint64_t rate = 0;
    uint64_t newErrors = 0;  // receive and send errors counted since the point before
    std::string lineErrors;  // letters seen, or empty
    uint64_t newDrops = 0;
};

std::vector<Point> SeriesOf(const std::vector<LogSample>& samples, size_t port) {
    std::vector<Point> points;
    const PortSample* before = nullptr;
    for (const LogSample& sample : samples) {
        if (port >= sample.ports.size()) continue;
        const PortSample& now = sample.ports[port];
        Point p;
        p.seconds = sample.elapsedMs / 1000.0;
        p.rate = now.rxRate;
        const uint64_t errors = uint64_t{now.values.rxErrors} + now.values.txErrors;
        uint64_t errorsBefore = 0;
        if (before) errorsBefore = uint64_t{before->values.rxErrors} + before->values.txErrors;
        // Counters that went down were cleared: what they hold is new.
        p.newErrors = errors >= errorsBefore ? errors - errorsBefore : errors;
        // The letters the log gathered at its polls; a refresh that found
        // line errors between two polls still counts, and then the letters
        // of the whole run stand in for the interval's.
        const uint32_t lineCountBefore = before ? before->values.lineErrorCount : 0;
        if (now.lineErrors.find_first_not_of('.') != std::string::npos)
            p.lineErrors = now.lineErrors;
        else if (now.values.lineErrorCount > lineCountBefore)
            p.lineErrors = FormatCommErrors(now.values.lineErrorBits);
        const uint32_t dropsBefore = before ? before->values.drops : 0;
        if (now.values.drops > dropsBefore) p.newDrops = now.values.drops - dropsBefore;
        points.push_back(p);
        before = &now;
    }
    if (points.size() <= kMaxChartPoints) return points;

    const size_t run = (points.size() + kMaxChartPoints - 1) / kMaxChartPoints;
    std::vector<Point> merged;
    for (size_t i = 0; i < points.size(); i += run) {
        Point m;
        for (size_t j = i; j < std::min(points.size(), i + run); ++j) {
            const Point& p = points[j];
            m.seconds = p.seconds;
            m.rate = std::max(m.rate, p.rate);
            m.newErrors += p.newErrors;
            m.newDrops += p.newDrops;
            if (!p.lineErrors.empty()) m.lineErrors = MergeLineErrors(m.lineErrors, p.lineErrors);
        }
        merged.push_back(m);
    }
    return merged;
}

// The smallest of 1, 2, 5 times a power of ten that is at least `value`.
uint64_t NiceCeiling(uint64_t value) {
    uint64_t step = 1;
    for (;;) {
        for (uint64_t f : {1, 2, 5})
            if (f * step >= value) return f * step;
        step *= 10;
    }
}

constexpr double kWidth = 760, kHeight = 230;
constexpr double kLeft = 70, kRight = 16, kTop = 22, kBottom = 40;
constexpr double kPlotW = kWidth - kLeft - kRight, kPlotH = kHeight - kTop - kBottom;

// A chart's stalls, in seconds on its time line.
struct Band {
    double from = 0;
    double seconds = 0;
};

std::vector<Band> BandsOf(const BatchRow& row, uint32_t testStartMs) {
    std::vector<Band> bands;
    for (const Stall& stall : row.stalls)
        bands.push_back(Band{(testStartMs + static_cast<double>(stall.fromMs)) / 1000.0,
                             static_cast<double>(stall.forMs) / 1000.0});
    return bands;
}

std::string Chart(const std::string& name, const std::vector<Point>& points,
                  const std::vector<Band>& stalls) {
    double lastSeconds = 1;
    uint64_t topRate = 1;
    for (const Point& p : points) {
        lastSeconds = std::max(lastSeconds, p.seconds);
        topRate = std::max(topRate, p.rate);
    }
    for (const Band& band : stalls)
        lastSeconds = std::max(lastSeconds, band.from + band.seconds);
    topRate = NiceCeiling(topRate);
    auto x = [&](double seconds) { return kLeft + seconds / lastSeconds * kPlotW; };
    auto y = [&](uint64_t rate) {
        return kTop + kPlotH - static_cast<double>(rate) / topRate * kPlotH;
    };

    std::string svg = Format(
        "<svg class=\"chart\" width=\"%.0f\" "
        "height=\"%.0f\" viewBox=\"0 0 %.0f %.0f\" role=\"img\" ",
        kWidth, kHeight, kWidth, kHeight);
    svg += "aria-label=\"Received bytes per second of " + Escape(name) + " over time\">\n";
    svg += Format("<rect class=\"plot\" x=\"%.0f\" y=\"%.0f\" width=\"%.0f\" height=\"%.0f\"/>\n",
                  kLeft, kTop, kPlotW, kPlotH);
    for (int i = 0; i <= 4; ++i) {
        const uint64_t rate = topRate * i / 4;
        svg += Format("<line class=\"grid\" x1=\"%.1f\" x2=\"%.1f\" y1=\"%.1f\" y2=\"%.1f\"/>",
                      kLeft, kLeft + kPlotW, y(rate), y(rate));
        svg += Format("<text class=\"axis\" x=\"%.1f\" y=\"%.1f\" text-anchor=\"end\">", kLeft - 6,
                      y(rate) + 4);
        svg += std::to_string(rate) + "</text>\n";
    }
    // Time ticks on whole seconds, minutes or hours: at most six of them.
    double step = 1;
    for (double s : {1, 2, 5, 10, 15, 30, 60, 120, 300, 600, 900, 1800, 3600, 7200, 10800, 21600,
                     43200, 86400}) {
        step = s;
        if (lastSeconds / s <= 6) break;
    }
    for (double seconds = 0; seconds <= lastSeconds + 1e-9; seconds += step) {
        svg += Format("<text class=\"axis\" x=\"%.1f\" y=\"%.1f\" text-anchor=\"middle\">",
                      x(seconds), kTop + kPlotH + 16);
        svg += Duration(seconds) + "</text>\n";
    }
    svg += Format("<text class=\"axis\" x=\"%.1f\" y=\"%.1f\" text-anchor=\"middle\">", kLeft,
                  kTop - 8);
    svg += "B/s</text>";
    svg += Format("<text class=\"axis\" x=\"%.1f\" y=\"%.1f\" text-anchor=\"end\">",
                  kWidth - kRight, kHeight - 4);
    svg += "time since the start (h:mm:ss)</text>\n";

    for (const Band& band : stalls) {
        svg += Format(
            "<rect class=\"mark stall\" x=\"%.1f\" y=\"%.1f\" width=\"%.1f\" "
            "height=\"%.1f\">",
            x(band.from), kTop, std::max(1.0, x(band.from + band.seconds) - x(band.from)), kPlotH);
        svg += "<title>" + Duration(band.from) + ": nothing received for " +
               Format("%.1f", band.seconds) + " s</title></rect>\n";
    }
    if (!points.empty()) {
        svg += "<polyline class=\"rate\" points=\"";
        for (const Point& p : points)
            svg += Format("%.1f,%.1f ", x(p.seconds), y(p.rate));
        svg += "\"/>\n";
    }
    for (const Point& p : points) {
        const double px = x(p.seconds);
        const std::string at = Duration(p.seconds);
        if (p.newErrors > 0) {
            svg += Format("<path class=\"mark errors\" d=\"M%.1f %.1fl-5 -9h10z\">", px, kTop + 9);
            svg += "<title>" + at + ": " + std::to_string(p.newErrors) +
                   " new error(s)</title></path>\n";
            svg += Format(
                "<line class=\"mark-line errors\" x1=\"%.1f\" x2=\"%.1f\" y1=\"%.1f\" "
                "y2=\"%.1f\"/>\n",
                px, px, kTop + 9, kTop + kPlotH);
        }
        if (!p.lineErrors.empty()) {
            svg += Format(
                "<rect class=\"mark line-errors\" x=\"%.1f\" y=\"%.1f\" width=\"8\" "
                "height=\"8\">",
                px - 4, kTop + 12);
            svg += "<title>" + at + ": line errors " + Escape(p.lineErrors) + "</title></rect>\n";
        }
        if (p.newDrops > 0) {
            svg += Format("<path class=\"mark drops\" d=\"M%.1f %.1fl5 5l-5 5l-5 -5z\">", px,
                          kTop + 22);
            svg += "<title>" + at + ": " + std::to_string(p.newDrops) +
                   " connection(s) lost</title></path>\n";
        }
    }
    if (points.empty())
        svg += Format("<text class=\"axis\" x=\"%.1f\" y=\"%.1f\" text-anchor=\"middle\">",
                      kLeft + kPlotW / 2, kTop + kPlotH / 2) +
               "no samples</text>\n";
    return svg + "</svg>\n";
}

// The modem-line check's results (--lines), one row per port; nothing
// when the run did not check the lines.
std::string LinesSection(const std::vector<BatchRow>& rows) {
    if (!LinesChecked(rows)) return std::string();
    std::string html = "<h2>Modem lines</h2>\n<p>" + Escape(LinesVerdictLine(rows)) +
                       "</p>\n<table class=\"rows lines\">\n<thead><tr><th>#</th><th>Name</th>"
                       "<th>Far end</th><th>Result</th><th class=\"why\">Lines</th></tr>"
                       "</thead>\n<tbody>\n";
    for (const BatchRow& row : rows) {
        const std::string verdict = LineVerdictName(row.lines.verdict);
        html += "<tr class=\"" +
                std::string(row.lines.verdict == LineVerdict::Failed ? "failed" : "") + "\"><td>" +
                Escape(row.cells[kColumnNumber]) + "</td><td>" + Escape(row.cells[kColumnName]) +
                "</td><td>" + Escape(row.lines.farEnd) + "</td><td>" + verdict +
                "</td><td class=\"why\">" + Escape(row.lines.text) + "</td></tr>\n";
    }
    return html + "</tbody>\n</table>\n";
}

const char kStyle[] = R"(
body { font: 14px/1.4 sans-serif; margin: 24px; color: #222; background: #fff; }
h1 { font-size: 22px; margin: 0 0 8px; }
h2 { font-size: 18px; margin: 28px 0 8px; }
h3 { font-size: 15px; margin: 18px 0 4px; font-weight: normal; }
.verdict { font-size: 17px; font-weight: bold; padding: 6px 10px; display: inline-block; }
.verdict.passed { background: #dff3df; color: #145214; }
.verdict.failed { background: #fbe0e0; color: #8a1111; }
.verdict.aborted { background: #fff1d6; color: #7a4a00; }
.facts { color: #555; }
table.rows { border-collapse: collapse; font-family: monospace; }
table.rows th, table.rows td { border: 1px solid #ccc; padding: 2px 8px; text-align: right; }
table.rows th { background: #f2f2f2; }
tr.failed td, tr.not-opened td { background: #fdf0f0; }
table.rows td.why, table.rows th.why { text-align: left; font-family: sans-serif; }
span.v { font-weight: bold; }
span.v.passed { color: #145214; } span.v.failed, span.v.not-opened { color: #8a1111; }
span.v.not-tested { color: #7a4a00; }
svg.chart { display: block; }
svg.chart rect.plot { fill: #fbfbfb; stroke: #999; }
svg.chart line.grid { stroke: #e2e2e2; }
svg.chart text.axis { font: 11px sans-serif; fill: #555; }
svg.chart polyline.rate { fill: none; stroke: #1f5fbf; stroke-width: 1.5; }
svg.chart .mark.errors { fill: #d42020; }
svg.chart .mark-line.errors { stroke: #d42020; stroke-width: 1; stroke-dasharray: 3 3; }
svg.chart .mark.line-errors { fill: #e69500; }
svg.chart .mark.drops { fill: #7b2fbf; }
svg.chart .mark.stall { fill: #9a9a9a; fill-opacity: 0.35; }
.legend { color: #555; font-size: 12px; }
.legend .errors { color: #d42020; } .legend .line-errors { color: #e69500; }
.legend .drops { color: #7b2fbf; } .legend .rate { color: #1f5fbf; }
.legend .stall { color: #9a9a9a; }
p.measures { margin: 4px 0 0; }
table.measures { border-collapse: collapse; margin-top: 6px; font-size: 13px; }
table.measures th, table.measures td { border: 1px solid #ddd; padding: 1px 6px; text-align: right; }
table.measures th { background: #f6f6f6; }
)";

// The run's rows under the columns' titles and the measures', with each
// port's result and what kept it from passing.
std::string RowsTable(const std::vector<std::string>& titles, const std::vector<BatchRow>& rows) {
    const MeasureColumns measures = MeasureColumnsOf(rows);
    std::string table = "<table class=\"rows\">\n<thead><tr>";
    for (const std::string& title : titles)
        table += "<th>" + Escape(title) + "</th>";
    for (const std::string& title : MeasureTitles(measures))
        table += "<th>" + Escape(title) + "</th>";
    table += "<th>Result</th><th class=\"why\">Why</th></tr></thead>\n<tbody>\n";
    for (const BatchRow& row : rows) {
        const std::vector<std::string>& problems = row.problems;
        const char* verdict = VerdictName(row);
        table += std::string("<tr class=\"") + verdict + "\">";
        for (int c = 0; c < kPortListColumns; ++c)
            table += "<td>" + Escape(row.cells[c]) + "</td>";
        for (const std::string& cell : MeasureCells(row, measures))
            table += "<td>" + Escape(cell) + "</td>";
        table += std::string("<td><span class=\"v ") + verdict + "\">" + verdict +
                 "</span></td><td class=\"why\">" + Escape(Joined(problems)) + "</td></tr>\n";
    }
    return table + "</tbody>\n</table>\n";
}

// "Round trip of 312 blocks: min 180.204 ms, ..." for a master that got
// blocks back; "" otherwise.
std::string RoundTripText(const BatchRow& row) {
    const LatencySummary& t = row.values.roundTrips;
    if (!row.ready || row.values.mode != ModeMaster || t.count == 0) return "";
    return "Round trip of " + std::to_string(t.count) + (t.count == 1 ? " block" : " blocks") +
           ": min " + Milliseconds(t.minUs) + " ms, p50 " + Milliseconds(t.p50Us) + " ms, p99 " +
           Milliseconds(t.p99Us) + " ms, max " + Milliseconds(t.maxUs) + " ms";
}

// "Rate: 11498 B/s received, 99.8% of the line's 11520 B/s: passed", or
// why it was not judged; "" without a rate check.
std::string RateText(const RateCheck& rate) {
    if (rate.verdict == RateVerdict::NotChecked) return "";
    std::string text = "Rate: ";
    if (rate.Measured())
        text += Format("%.0f B/s received, %.1f%% of the line's %.0f B/s", rate.measured,
                       rate.ratio * 100, rate.expected) +
                ": ";
    return text + RateVerdictText(rate.verdict);
}

// Under a port's chart: its measures in the run, or, for a sweep, a row
// per speed with its result there.
std::string PortMeasures(const HtmlReport& r, size_t port) {
    if (!r.sweep) {
        if (port >= r.rows.size()) return "";
        const BatchRow& row = r.rows[port];
        std::string text;
        for (const std::string& part : {RoundTripText(row), RateText(row.rate)})
            if (!part.empty()) text += (text.empty() ? "" : "<br>") + Escape(part);
        return text.empty() ? "" : "<p class=\"measures\">" + text + "</p>\n";
    }
    std::string table =
        "<table class=\"measures\">\n<thead><tr><th>bit/s</th><th>Rx#</th><th>Err#</th>";
    MeasureColumns measures;
    measures.roundTrips = r.pairs;
    measures.rates = true;
    for (const std::string& title : MeasureTitles(measures))
        table += "<th>" + Escape(title) + "</th>";
    table += "<th>Result</th><th class=\"why\">Why</th></tr></thead>\n<tbody>\n";
    for (const SweepStep& step : *r.sweep) {
        if (port >= step.rows.size()) continue;
        const BatchRow& row = step.rows[port];
        const std::vector<std::string>& problems = row.problems;
        const char* verdict = VerdictName(row);
        table += std::string("<tr class=\"") + verdict + "\" data-baud=\"" +
                 std::to_string(step.baudRate) + "\"><td>" + std::to_string(step.baudRate) +
                 "</td><td>" + Escape(row.cells[kColumnRx]) + "</td><td>" +
                 Escape(row.cells[kColumnErrors]) + "</td>";
        for (const std::string& cell : MeasureCells(row, measures))
            table += "<td>" + Escape(cell) + "</td>";
        table += std::string("<td><span class=\"v ") + verdict + "\">" + verdict +
                 "</span></td><td class=\"why\">" + Escape(Joined(problems)) + "</td></tr>\n";
    }
    return table + "</tbody>\n</table>\n";
}

// A port's verdict over a whole sweep: not opened, or failed at any speed.
const char* SweptVerdict(const HtmlReport& r, size_t port, std::vector<std::string>& problems) {
    const char* verdict = "passed";
    for (const SweepStep& step : *r.sweep) {
        if (port >= step.rows.size()) continue;
        const std::vector<std::string>& found = step.rows[port].problems;
        const char* here = VerdictName(step.rows[port]);
        if (std::string(here) == "not-opened") return here;
        if (!found.empty()) {
            verdict = "failed";
            problems.push_back("at " + std::to_string(step.baudRate) + " bit/s: " + Joined(found));
        }
    }
    return verdict;
}

// "Unit SN-1042, station bench-3, operator Ana", each part when given.
std::string TagsLine(const RunTags& tags) {
    std::string line;
    auto add = [&](const char* label, const std::string& value) {
        if (value.empty()) return;
        line += line.empty() ? std::string(1, static_cast<char>(label[0] - 'a' + 'A')) + (label + 1)
                             : std::string(", ") + label;
        line += " " + Escape(value);
    };
    add("unit", tags.unit);
    add("station", tags.station);
    add("operator", tags.operatorName);
    return line.empty() ? "" : "<p class=\"tags\">" + line + "</p>\n";
}

}  // namespace

std::string FormatHtmlReport(const HtmlReport& r) {
    const bool passed = r.sweep ? SweepExitCode(*r.sweep) == kBatchPassed && !LinesFailed(r.rows) &&
                                      !ConditionsFailed(r.rows)
                                : r.summary.exitCode == kBatchPassed;
    const bool aborted = r.summary.abort.aborted;
    const char* verdict = aborted ? "aborted" : passed ? "passed" : "failed";
    const std::string verdictLine =
        r.sweep ? SweepSummaryLine(*r.sweep, r.summary.abort) : SummaryLine(r.summary);
    const std::vector<LogSample> none;
    const std::vector<LogSample>& samples = r.samples ? *r.samples : none;

    std::string page = "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n";
    page += "<title>VeskTest report: " +
            std::string(aborted  ? "aborted"
                        : passed ? "passed"
                                 : "FAILED") +
            "</title>\n";
    page += "<style>" + std::string(kStyle) + "</style>\n</head>\n<body>\n";
    page += "<h1>VeskTest report</h1>\n";
    page += std::string("<p class=\"verdict ") + verdict + "\">" + Escape(verdictLine) + "</p>\n";
    page += TagsLine(r.tags);
    page += "<p class=\"facts\">" + Escape(r.programTitle) + "<br>Configuration " +
            Escape(r.configPath) + "; " + std::to_string(r.seconds) + " s of " +
            (r.pairs ? "half-duplex pairs" : "full duplex on every port");
    if (r.sweep) {
        page += " at each of " + std::to_string(r.sweep->size()) + " speeds (";
        for (size_t i = 0; i < r.sweep->size(); ++i)
            page += (i == 0 ? "" : ", ") + std::to_string((*r.sweep)[i].baudRate);
        page += " bit/s)";
    }
    if (!samples.empty())
        page += "; started " + IsoUtc(samples.front().unixSeconds) + ", a sample every " +
                std::to_string(r.intervalSeconds) + " s (" + std::to_string(samples.size()) +
                " samples)";
    if (!r.wiring.empty()) page += "<br>Wiring " + Escape(r.wiring);
    page += "</p>\n";

    if (r.sweep) {
        for (const SweepStep& step : *r.sweep) {
            const bool stepPassed = step.summary.exitCode == kBatchPassed;
            page += "<section class=\"speed\" data-baud=\"" + std::to_string(step.baudRate) +
                    "\" data-verdict=\"" + (stepPassed ? "passed" : "failed") + "\">\n";
            page += "<h2>" + std::to_string(step.baudRate) + " bit/s</h2>\n";
            page += std::string("<p class=\"verdict ") + (stepPassed ? "passed" : "failed") +
                    "\">" + Escape(SweepStepLine(step)) + "</p>\n";
            page += RowsTable(r.titles, step.rows) + "</section>\n";
        }
    } else {
        page += "<h2>Final rows</h2>\n" + RowsTable(r.titles, r.rows);
    }
    page += LinesSection(r.rows);
    page += ConditionsSection(r.rows, Escape);

    page += "<h2>Ports over time</h2>\n";
    page +=
        "<p class=\"legend\"><span class=\"rate\">&#9472;</span> received bytes per second over "
        "each interval &#160; <span class=\"errors\">&#9660;</span> receive or send errors "
        "counted &#160; <span class=\"line-errors\">&#9632;</span> line errors (O F P B R T) "
        "&#160; <span class=\"drops\">&#9670;</span> connection lost &#160; <span "
        "class=\"stall\">&#9608;</span> nothing received (a stall)</p>\n";
    for (size_t i = 0; i < r.rows.size(); ++i) {
        const BatchRow& row = r.rows[i];
        const std::string name = row.cells[kColumnName];
        std::vector<std::string> problems = r.sweep ? std::vector<std::string>() : row.problems;
        const char* verdict = r.sweep ? SweptVerdict(r, i, problems) : VerdictName(row);
        page += "<section class=\"port\" id=\"port-" + std::to_string(i + 1) + "\" data-port=\"" +
                Escape(name) + "\" data-verdict=\"" + verdict + "\">\n";
        page += "<h3>" + Escape(row.cells[kColumnNumber]) + " &#160;<b>" + Escape(name) +
                "</b> &#160;<span class=\"v " + verdict + "\">" + verdict + "</span> &#160;" +
                Escape(Joined(problems)) + "</h3>\n";
        page += Chart(name, SeriesOf(samples, i), BandsOf(row, r.testStartMs));
        page += PortMeasures(r, i);
        page += "</section>\n";
    }
    page += "</body>\n</html>\n";
    return page;
}
