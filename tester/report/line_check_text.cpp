#include "tester/report/line_check_text.h"

bool LinesChecked(const std::vector<BatchRow>& rows) {
    for (const BatchRow& row : rows)
        if (row.lines.checked) return true;
    return false;
}

bool LinesFailed(const std::vector<BatchRow>& rows) {
    for (const BatchRow& row : rows)
        if (row.lines.checked && row.lines.verdict == LineVerdict::Failed) return true;
    return false;
}

void CheckTally::Add(const BatchRow& row, LineVerdict verdict, const std::string& farEnd,
                     const std::string& text) {
    ++count_[static_cast<int>(verdict)];
    if (verdict != LineVerdict::Failed) return;
    const std::string to = farEnd == "loop-back" ? " (loop-back)" : " to port " + farEnd;
    failures_.push_back(PortLabel(row) + to + ": " + text);
}

std::string CheckTally::Line(const std::string& name) const {
    const uint32_t ports = count_[0] + count_[1] + count_[2] + count_[3];
    std::string line =
        name + ": " + std::to_string(ports) + " ports, " +
        std::to_string(count_[static_cast<int>(LineVerdict::Passed)]) + " passed, " +
        std::to_string(count_[static_cast<int>(LineVerdict::Failed)]) + " failed, " +
        std::to_string(count_[static_cast<int>(LineVerdict::NotSupported)]) + " not supported, " +
        std::to_string(count_[static_cast<int>(LineVerdict::NotChecked)]) + " not checked: ";
    if (failures_.empty()) return line + "passed";
    line += "FAILED";
    for (size_t i = 0; i < failures_.size(); ++i)
        line += (i == 0 ? ": " : "; ") + failures_[i];
    return line;
}

std::string LinesVerdictLine(const std::vector<BatchRow>& rows) {
    CheckTally tally;
    for (const BatchRow& row : rows)
        if (row.lines.checked) tally.Add(row, row.lines.verdict, row.lines.farEnd, row.lines.text);
    return tally.Line("lines");
}

const std::vector<std::string> kLineCheckTitles = {"Lines", "LinesResult"};

std::vector<std::string> LineCheckCells(const BatchRow& row) {
    if (!row.lines.checked) return {"", ""};
    return {row.lines.text, LineVerdictName(row.lines.verdict)};
}
