#include "tester/report/sweep_report.h"

#include "tester/report/final_table.h"

std::string SweepStepLine(const SweepStep& step) {
    std::string line = std::to_string(step.baudRate) + ": ";
    if (step.summary.exitCode == kBatchPassed) return line + "passed" + NotPacedNote(step.summary);
    line += "FAILED";
    for (size_t i = 0; i < step.summary.reasons.size(); ++i)
        line += (i == 0 ? ": " : "; ") + step.summary.reasons[i];
    return line + NotPacedNote(step.summary);
}

std::string SweepSummaryLine(const std::vector<SweepStep>& steps) {
    std::string failed;
    size_t failures = 0;
    for (const SweepStep& step : steps) {
        if (step.summary.exitCode == kBatchPassed) continue;
        failed += (failures++ == 0 ? "" : ", ") + std::to_string(step.baudRate);
    }
    std::string line = std::to_string(steps.size()) + (steps.size() == 1 ? " speed" : " speeds") +
                       " swept, " + std::to_string(steps.size() - failures) + " passed";
    if (SweepExitCode(steps) == kBatchPassed) return line + ": passed";
    if (failures != 0) line += ", " + std::to_string(failures) + " failed";
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
