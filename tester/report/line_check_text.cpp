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

std::string LinesVerdictLine(const std::vector<BatchRow>& rows) {
    uint32_t count[4] = {0, 0, 0, 0};
    std::vector<std::string> failures;
    for (const BatchRow& row : rows) {
        if (!row.lines.checked) continue;
        ++count[static_cast<int>(row.lines.verdict)];
        if (row.lines.verdict != LineVerdict::Failed) continue;
        const std::string to =
            row.lines.farEnd == "loop-back" ? " (loop-back)" : " to port " + row.lines.farEnd;
        failures.push_back(PortLabel(row) + to + ": " + row.lines.text);
    }
    const uint32_t ports = count[0] + count[1] + count[2] + count[3];
    std::string line =
        "lines: " + std::to_string(ports) + " ports, " +
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

const std::vector<std::string> kLineCheckTitles = {"Lines", "LinesResult"};

std::vector<std::string> LineCheckCells(const BatchRow& row) {
    if (!row.lines.checked) return {"", ""};
    return {row.lines.text, LineVerdictName(row.lines.verdict)};
}
