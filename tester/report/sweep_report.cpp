#include "tester/report/sweep_report.h"

#include "tester/report/final_table.h"

std::string SweepStepLine(const SweepStep& step) {
    std::string line = std::to_string(step.baudRate) + ": ";
    if (step.summary.abort.aborted)
        return line + AbortedText(step.summary.abort) + FindingsUntilAbort(step.summary.reasons) +
               NotPacedNote(step.summary);
    if (step.summary.exitCode == kBatchPassed) return line + "passed" + NotPacedNote(step.summary);
    line += "FAILED";
    for (size_t i = 0; i < step.summary.reasons.size(); ++i)
        line += (i == 0 ? ": " : "; ") + step.summary.reasons[i];
    return line + NotPacedNote(step.summary);
}

std::string SweepSummaryLine(const std::vector<SweepStep>& steps, const RunAbort& abort) {
    // A speed cut short passed nothing; it failed when it found a fault
    // before the stop.
    std::string failed;
    size_t passed = 0, failures = 0;
    for (const SweepStep& step : steps) {
        const bool cut = step.summary.abort.aborted;
        if (!cut && step.summary.exitCode == kBatchPassed) ++passed;
        if (cut ? step.summary.reasons.empty() : step.summary.exitCode == kBatchPassed) continue;
        failed += (failures++ == 0 ? "" : ", ") + std::to_string(step.baudRate);
    }
    std::string line = std::to_string(steps.size()) + (steps.size() == 1 ? " speed" : " speeds") +
                       " swept, " + std::to_string(passed) + " passed";
    if (failures != 0) line += ", " + std::to_string(failures) + " failed";
    if (abort.aborted)
        return line + ": " + AbortedText(abort) +
               (failed.empty() ? ", no fault found until then" : ", until then FAILED: " + failed);
    if (SweepExitCode(steps) == kBatchPassed) return line + ": passed";
    return line + ": FAILED" + (failed.empty() ? "" : ": " + failed);
}

int SweepExitCode(const std::vector<SweepStep>& steps) {
    if (steps.empty()) return kBatchErrors;
    int code = kBatchPassed;
    for (const SweepStep& step : steps) {
        if (step.summary.exitCode == kBatchNotOpened) return kBatchNotOpened;
        if (step.summary.exitCode != kBatchPassed) code = kBatchErrors;
    }
    return code;
}

std::string FormatSweepCsv(const std::vector<SweepStep>& steps,
                           const std::vector<std::string>& titles) {
    std::vector<CsvPart> parts;
    for (const SweepStep& step : steps)
        parts.push_back(CsvPart{std::to_string(step.baudRate), &step.rows});
    return FormatCsvParts("BaudRate", parts, titles);
}
