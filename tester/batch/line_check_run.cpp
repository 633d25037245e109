#include "tester/batch/line_check_run.h"

#include "tester/report/port_result.h"
#include "tester/engine/port_worker.h"

std::vector<BatchLineCheck> RunLineCheckJobs(const std::vector<LineCheckJob>& jobs,
                                             const LineCheckTiming& timing,
                                             const std::function<bool()>& stop) {
    std::vector<BatchLineCheck> checks;
    for (const LineCheckOutcome& o : RunLineCheck(jobs, timing, stop)) {
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
