#include "tester/report/condition_check_text.h"

#include "tester/report/line_check_text.h"
#include "platform/name_table.h"

namespace {

constexpr ConditionCheck kAll[] = {ConditionCheck::Flow, ConditionCheck::Break,
                                   ConditionCheck::Parity};

// "Flow", "Break", "Parity": the columns' titles.
std::string Title(ConditionCheck check) {
    static const char* const kTitles[] = {"Flow", "Break", "Parity"};
    return plat::NameOf(check, kTitles);
}

bool AnyFailed(const BatchRow& row) {
    for (ConditionCheck check : kAll) {
        const BatchConditionCheck& c = row.conditions.of(check);
        if (c.checked && c.verdict == LineVerdict::Failed) return true;
    }
    return false;
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
        if (AnyFailed(row)) return true;
    }
    return false;
}

std::string ConditionVerdictLine(const std::vector<BatchRow>& rows, ConditionCheck check) {
    CheckTally tally;
    for (const BatchRow& row : rows) {
        const BatchConditionCheck& c = row.conditions.of(check);
        if (c.checked) tally.Add(row, c.verdict, c.farEnd, c.text);
    }
    return tally.Line(ConditionCheckName(check));
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
        std::string farEnd;
        for (ConditionCheck check : made)
            if (farEnd.empty()) farEnd = row.conditions.of(check).farEnd;
        html += "<tr class=\"" + std::string(AnyFailed(row) ? "failed" : "") + "\"><td>" +
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
