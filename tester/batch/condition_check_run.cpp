#include "tester/batch/condition_check_run.h"

#include "tester/engine/port_worker.h"

namespace {

constexpr ConditionCheck kAll[] = {ConditionCheck::Flow, ConditionCheck::Break,
                                   ConditionCheck::Parity};

}  // namespace

std::vector<BatchConditions> RunBatchConditionChecks(const std::vector<LineCheckJob>& jobs,
                                                     const std::vector<ConditionCheck>& checks,
                                                     const ConditionTiming& timing,
                                                     const std::function<bool()>& stop) {
    std::vector<BatchConditions> results;
    for (const ConditionRun& run : RunConditionChecks(jobs, checks, timing, stop)) {
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
