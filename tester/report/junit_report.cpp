#include "tester/report/junit_report.h"

#include <cstdio>
#include <set>

#include "tester/report/final_table.h"
#include "tester/report/json_text.h"
#include "tester/report/line_check_text.h"

namespace {

struct TestCase {
    std::string name;
    double seconds = 0;
    const char* element = nullptr;  // "failure", "error", "skipped"; null: passed
    const char* type = nullptr;     // of a failure or an error: the element's name unless set
    std::string message;
    std::string text;
};

std::string Joined(const std::vector<std::string>& parts) {
    std::string text;
    for (size_t i = 0; i < parts.size(); ++i)
        text += (i == 0 ? "" : ", ") + parts[i];
    return text;
}

std::string ClassName(const RunTags& tags) {
    std::string which = tags.unit.empty() ? tags.station : tags.unit;
    for (char& c : which)
        if (c == '.' || c == ' ' || c == '\t') c = '_';
    return which.empty() ? "vesktest" : "vesktest." + which;
}

TestCase PortCase(const BatchRow& row, const std::string& suffix) {
    TestCase c;
    c.name = PortLabel(row) + suffix;
    c.seconds = static_cast<double>(row.values.elapsedMs) / 1000.0;
    c.message = Joined(row.problems);
    c.text = PortLabel(row) + ": " + c.message;
    switch (PortVerdictOf(row)) {
        case PortVerdict::Pass:
            break;
        case PortVerdict::Fail:
            c.element = "failure";
            break;
        case PortVerdict::Error:
            c.element = "error";
            break;
        case PortVerdict::Skipped:
            c.element = "skipped";
            c.message = "not tested: the run was stopped before the port was tested";
            c.text.clear();
            break;
    }
    return c;
}

// The reasons that name no port of `rows`: the run's own.
std::vector<std::string> RunReasons(const std::vector<BatchRow>& rows,
                                    const BatchSummary& summary) {
    std::set<std::string> ports;
    for (const BatchRow& row : rows)
        if (!row.problems.empty()) ports.insert(PortLabel(row) + ": " + Joined(row.problems));
    std::vector<std::string> own;
    for (const std::string& reason : summary.reasons)
        if (ports.count(reason) == 0) own.push_back(reason);
    return own;
}

void AddTest(std::vector<TestCase>& cases, const std::vector<BatchRow>& rows,
             const BatchSummary& summary, const std::string& suffix) {
    for (const BatchRow& row : rows)
        cases.push_back(PortCase(row, suffix));
    const std::vector<std::string> own = RunReasons(rows, summary);
    if (own.empty()) return;
    TestCase run;
    run.name = "run" + suffix;
    run.element = "failure";
    run.message = own.front();
    for (const std::string& reason : own)
        run.text += (run.text.empty() ? "" : "\n") + reason;
    cases.push_back(run);
}

std::string Seconds(double seconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", seconds);
    return text;
}

std::string Attribute(const char* name, const std::string& value) {
    return std::string(" ") + name + "=\"" + XmlEscaped(value) + "\"";
}

}  // namespace

namespace {

// The XML for a character that may not stand as it is in an attribute's
// value or text (white space kept as written), or null.
const char* Entity(unsigned char c) {
    static const struct {
        char c;
        const char* entity;
    } kEntities[] = {{'&', "&amp;"},   {'<', "&lt;"},   {'>', "&gt;"},   {'"', "&quot;"},
                     {'\'', "&apos;"}, {'\n', "&#10;"}, {'\r', "&#13;"}, {'\t', "&#9;"}};
    for (const auto& e : kEntities)
        if (static_cast<unsigned char>(e.c) == c) return e.entity;
    return nullptr;
}

}  // namespace

std::string XmlEscaped(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        const size_t length = Utf8Length(text, i);
        if (length > 1) {
            out.append(text, i, length);
            i += length - 1;
        } else if (length == 0) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (const char* entity = Entity(c)) {
            out += entity;
        } else if (c < 0x20 || c == 0x7F) {
            out += "\xEF\xBF\xBD";
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

std::string FormatJunitReport(const RunRecord& r) {
    std::vector<TestCase> cases;
    if (r.steps.empty()) {
        AddTest(cases, r.rows, r.summary, "");
    } else {
        for (const SweepStep& step : r.steps)
            AddTest(cases, step.rows, step.summary,
                    " at " + std::to_string(step.baudRate) + " bit/s");
        if (r.settings.lines) {
            TestCase lines;
            lines.name = "modem lines";
            if (LinesFailed(r.rows)) {
                lines.element = "failure";
                lines.message = lines.text = LinesVerdictLine(r.rows);
            }
            cases.push_back(lines);
        }
    }
    // A run stopped before its time has no verdict: one case says so as an
    // error, so that a CI server never shows the file as passed.
    if (r.summary.abort.aborted) {
        TestCase aborted;
        aborted.name = "run aborted";
        aborted.element = "error";
        aborted.type = "aborted";
        aborted.message = AbortedText(r.summary.abort);
        aborted.text = r.summaryLine;
        cases.push_back(aborted);
    }
    size_t failures = 0, errors = 0, skipped = 0;
    for (const TestCase& c : cases) {
        if (!c.element) continue;
        const std::string kind = c.element;
        failures += kind == "failure";
        errors += kind == "error";
        skipped += kind == "skipped";
    }
    const std::string time = Seconds(static_cast<double>(r.endedMs - r.startedMs) / 1000.0);
    // The Ant schema's timestamp: seconds, no zone (UTC here).
    const std::string timestamp = Rfc3339Utc(r.startedMs).substr(0, 19);
    const std::string counts = Attribute("tests", std::to_string(cases.size())) +
                               Attribute("failures", std::to_string(failures)) +
                               Attribute("errors", std::to_string(errors));
    const std::string className = ClassName(r.tags);

    // <testsuites> carries no skipped count: the schema CI servers check
    // the file against (Jenkins' xunit) refuses one there; the suite has it.
    std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    xml += "<testsuites" + Attribute("name", r.tool) + counts + Attribute("time", time) + ">\n";
    xml += "  <testsuite" + Attribute("name", className) + counts +
           Attribute("skipped", std::to_string(skipped)) + Attribute("time", time) +
           Attribute("timestamp", timestamp) + Attribute("hostname", r.tags.station) +
           Attribute("id", "0") + ">\n";
    xml += "    <properties>\n";
    const std::pair<const char*, std::string> properties[] = {
        {"unit", r.tags.unit},
        {"station", r.tags.station},
        {"operator", r.tags.operatorName},
        {"version", r.version},
        {"run_id", r.runId},
        {"started", Rfc3339Utc(r.startedMs)},
        {"ended", Rfc3339Utc(r.endedMs)},
        {"outcome", RunOutcomeName(r.outcome)},
        {"exit_code", std::to_string(r.exitCode)},
        {"command_line", r.commandLine},
    };
    for (const auto& property : properties)
        xml += "      <property" + Attribute("name", property.first) +
               Attribute("value", property.second) + "/>\n";
    xml += "    </properties>\n";
    for (const TestCase& c : cases) {
        xml += "    <testcase" + Attribute("classname", className) + Attribute("name", c.name) +
               Attribute("time", Seconds(c.seconds));
        if (!c.element) {
            xml += "/>\n";
            continue;
        }
        xml += ">\n      <" + std::string(c.element) + Attribute("message", c.message);
        if (std::string(c.element) != "skipped")
            xml += Attribute("type", c.type ? c.type : c.element);
        if (c.text.empty()) {
            xml += "/>\n";
        } else {
            xml += ">" + XmlEscaped(c.text) + "</" + c.element + ">\n";
        }
        xml += "    </testcase>\n";
    }
    xml += "    <system-out>" + XmlEscaped(r.summaryLine) + "</system-out>\n";
    xml += "  </testsuite>\n</testsuites>\n";
    return xml;
}
