#include "tester/batch/line_check_report.h"

#include "tester/batch/batch_report.h"
#include "tester/engine/port_worker.h"
#include "tester/engine/worker_group.h"

namespace {

// "port 2 (COM2)", as the run's summary names a port.
std::string PortLabel(const BatchRow& row) {
    return "port " + row.cells[kColumnNumber] + " (" + row.cells[kColumnName] + ")";
}

}  // namespace

std::vector<BatchLineCheck> RunBatchLineCheck(WorkerGroup& workers, const LineCheckTiming& timing,
                                              const std::function<bool()>& stop) {
    std::vector<PortWorker*> all;
    for (int32_t i = 0; i < workers.Count(); ++i)
        all.push_back(workers.At(i));
    std::vector<BatchLineCheck> checks;
    for (const LineCheckOutcome& o : RunLineCheck(PairForLineCheck(all), timing, stop)) {
        const size_t row = static_cast<size_t>(o.worker->rowIndex);
        if (row >= checks.size()) checks.resize(row + 1);
        BatchLineCheck& check = checks[row];
        check.checked = true;
        check.verdict = o.result.verdict;
        check.text = o.result.text;
        check.farEnd = o.farEnd == o.worker ? "loop-back" : std::to_string(o.farEnd->rowIndex + 1);
    }
    return checks;
}

void AttachLineChecks(std::vector<BatchRow>& rows, const std::vector<BatchLineCheck>& checks) {
    for (size_t i = 0; i < rows.size(); ++i) {
        // A row without a worker was not checked, but the run checked lines.
        rows[i].lines = i < checks.size() && checks[i].checked ? checks[i] : BatchLineCheck();
        if (!rows[i].lines.checked) {
            rows[i].lines.checked = true;
            rows[i].lines.text = "not open";
        }
    }
}

void AddLineCheckProblem(const BatchRow& row, std::vector<std::string>& problems) {
    if (row.lines.checked && row.lines.verdict == LineVerdict::Failed)
        problems.push_back("modem lines: " + row.lines.text);
}

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

const char* LineVerdictName(LineVerdict verdict) {
    switch (verdict) {
        case LineVerdict::Passed:
            return "passed";
        case LineVerdict::Failed:
            return "failed";
        case LineVerdict::NotSupported:
            return "not supported";
        default:
            return "not checked";
    }
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
