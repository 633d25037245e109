#include "tester/batch/condition_check_report.h"

#include "tester/batch/batch_report.h"
#include "tester/engine/port_worker.h"
#include "tester/engine/worker_group.h"

namespace {

constexpr ConditionCheck kAll[] = {ConditionCheck::Flow, ConditionCheck::Break,
                                   ConditionCheck::Parity};

// "port 2 (COM2)", as the run's summary names a port.
std::string PortLabel(const BatchRow& row) {
    return "port " + row.cells[kColumnNumber] + " (" + row.cells[kColumnName] + ")";
}

// "Flow", "Break", "Parity": the columns' titles.
std::string Title(ConditionCheck check) {
    switch (check) {
        case ConditionCheck::Break:
            return "Break";
        case ConditionCheck::Parity:
            return "Parity";
        default:
            return "Flow";
    }
}

}  // namespace

BatchConditionCheck& BatchConditions::of(ConditionCheck check) {
    return check == ConditionCheck::Break    ? breaks
           : check == ConditionCheck::Parity ? parity
                                             : flow;
}

const BatchConditionCheck& BatchConditions::of(ConditionCheck check) const {
    return check == ConditionCheck::Break    ? breaks
           : check == ConditionCheck::Parity ? parity
                                             : flow;
}

std::vector<BatchConditions> RunBatchConditionChecks(WorkerGroup& workers,
                                                     const std::vector<ConditionCheck>& checks,
                                                     const ConditionTiming& timing,
                                                     const std::function<bool()>& stop) {
    std::vector<PortWorker*> all;
    for (int32_t i = 0; i < workers.Count(); ++i)
        all.push_back(workers.At(i));
    std::vector<BatchConditions> results;
    for (const ConditionRun& run :
         RunConditionChecks(PairForLineCheck(all), checks, timing, stop)) {
        for (const LineCheckOutcome& o : run.outcomes) {
            const size_t row = static_cast<size_t>(o.worker->rowIndex);
            if (row >= results.size()) results.resize(row + 1);
            BatchConditionCheck& check = results[row].of(run.check);
            check.checked = true;
            check.verdict = o.result.verdict;
            check.text = o.result.text;
            check.farEnd =
                o.farEnd == o.worker ? "loop-back" : std::to_string(o.farEnd->rowIndex + 1);
        }
    }
    return results;
}

void AttachConditionChecks(std::vector<BatchRow>& rows, const std::vector<BatchConditions>& checks,
                           const std::vector<ConditionCheck>& made) {
    for (size_t i = 0; i < rows.size(); ++i) {
        rows[i].conditions = i < checks.size() ? checks[i] : BatchConditions();
        for (ConditionCheck check : made) {
            BatchConditionCheck& c = rows[i].conditions.of(check);
            if (c.checked) continue;
            c.checked = true;
            c.text = "not open";
        }
    }
}

void AddConditionProblems(const BatchRow& row, std::vector<std::string>& problems) {
    for (ConditionCheck check : kAll) {
        const BatchConditionCheck& c = row.conditions.of(check);
        if (c.checked && c.verdict == LineVerdict::Failed)
            problems.push_back(std::string(ConditionCheckName(check)) + ": " + c.text);
    }
}

std::vector<ConditionCheck> ConditionsChecked(const std::vector<BatchRow>& rows) {
    std::vector<ConditionCheck> made;
    for (ConditionCheck check : kAll) {
        for (const BatchRow& row : rows) {
            if (row.conditions.of(check).checked) {
                made.push_back(check);
                break;
            }
        }
    }
    return made;
}

bool ConditionsFailed(const std::vector<BatchRow>& rows) {
    for (const BatchRow& row : rows) {
        std::vector<std::string> problems;
        AddConditionProblems(row, problems);
        if (!problems.empty()) return true;
    }
    return false;
}

std::string ConditionVerdictLine(const std::vector<BatchRow>& rows, ConditionCheck check) {
    uint32_t count[4] = {0, 0, 0, 0};
    std::vector<std::string> failures;
    for (const BatchRow& row : rows) {
        const BatchConditionCheck& c = row.conditions.of(check);
        if (!c.checked) continue;
        ++count[static_cast<int>(c.verdict)];
        if (c.verdict != LineVerdict::Failed) continue;
        const std::string to = c.farEnd == "loop-back" ? " (loop-back)" : " to port " + c.farEnd;
        failures.push_back(PortLabel(row) + to + ": " + c.text);
    }
    const uint32_t ports = count[0] + count[1] + count[2] + count[3];
    std::string line =
        std::string(ConditionCheckName(check)) + ": " + std::to_string(ports) + " ports, " +
        std::to_string(count[static_cast<int>(LineVerdict::Passed)]) + " passed, " +
        std::to_string(count[static_cast<int>(LineVerdict::Failed)]) + " failed, " +
        std::to_string(count[static_cast<int>(LineVerdict::NotSupported)]) + " not supported, " +
        std::to_string(count[static_cast<int>(LineVerdict::NotChecked)]) + " not checked: ";
    if (failures.empty()) return line + "passed";
    line += "FAILED";
    for (size_t i = 0; i < failures.size(); ++i)
        line += (i == 0 ? ": " : "; ") + failures[i];
    return line;
}

std::vector<std::string> ConditionTitles(const std::vector<ConditionCheck>& checks) {
    std::vector<std::string> titles;
    for (ConditionCheck check : checks)
        titles.push_back(Title(check));
    return titles;
}

std::vector<std::string> ConditionCells(const BatchRow& row,
                                        const std::vector<ConditionCheck>& checks) {
    std::vector<std::string> cells;
    for (ConditionCheck check : checks) {
        const BatchConditionCheck& c = row.conditions.of(check);
        cells.push_back(c.checked ? LineVerdictName(c.verdict) : "");
    }
    return cells;
}

std::vector<std::string> ConditionTextTitles(const std::vector<ConditionCheck>& checks) {
    std::vector<std::string> titles;
    for (ConditionCheck check : checks)
        titles.push_back(Title(check) + "Text");
    return titles;
}

std::vector<std::string> ConditionTextCells(const BatchRow& row,
                                            const std::vector<ConditionCheck>& checks) {
    std::vector<std::string> cells;
    for (ConditionCheck check : checks)
        cells.push_back(row.conditions.of(check).text);
    return cells;
}

std::string ConditionsSection(const std::vector<BatchRow>& rows,
                              std::string (*escape)(const std::string&)) {
    const std::vector<ConditionCheck> made = ConditionsChecked(rows);
    if (made.empty()) return std::string();
    std::string html = "<h2>Flow control, breaks and parity</h2>\n";
    for (ConditionCheck check : made)
        html += "<p>" + escape(ConditionVerdictLine(rows, check)) + "</p>\n";
    html +=
        "<table class=\"rows conditions\">\n<thead><tr><th>#</th><th>Name</th>"
        "<th>Far end</th>";
    for (ConditionCheck check : made)
        html += "<th>" + Title(check) + "</th><th class=\"why\">" + Title(check) + " result</th>";
    html += "</tr></thead>\n<tbody>\n";
    for (const BatchRow& row : rows) {
        std::vector<std::string> problems;
        AddConditionProblems(row, problems);
        std::string farEnd;
        for (ConditionCheck check : made)
            if (farEnd.empty()) farEnd = row.conditions.of(check).farEnd;
        html += "<tr class=\"" + std::string(problems.empty() ? "" : "failed") + "\"><td>" +
                escape(row.cells[kColumnNumber]) + "</td><td>" + escape(row.cells[kColumnName]) +
                "</td><td>" + escape(farEnd) + "</td>";
        for (ConditionCheck check : made) {
            const BatchConditionCheck& c = row.conditions.of(check);
            html += "<td>" + std::string(LineVerdictName(c.verdict)) + "</td><td class=\"why\">" +
                    escape(c.text) + "</td>";
        }
        html += "</tr>\n";
    }
    return html + "</tbody>\n</table>\n";
}
