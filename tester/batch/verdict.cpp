#include "tester/batch/verdict.h"

#include <cstdio>

#include "tester/batch/condition_check_run.h"
#include "tester/batch/line_check_run.h"
#include "tester/batch/rate_check.h"
#include "tester/engine/port_worker.h"
#include "tester/session/row_texts.h"

namespace {

std::string Count(uint64_t n, const char* one, const char* many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

std::string Times(uint32_t n) {
    return n == 1 ? "1 time" : std::to_string(n) + " times";
}

std::string NotOpenedProblem(const BatchRow& row) {
    std::string why = row.openFailure;
    if (why.empty() && row.values.state == PortState::NoBuffers) why = "no buffers for it";
    return why.empty() ? "not opened" : "not opened: " + why;
}

// "port 1", "itself", "port 3 and port 5", "nothing": whom a port hears,
// from its source cell.
std::string Heard(const std::string& source, const std::string& own) {
    if (source.empty() || source == "none") return "nothing";
    if (source == own) return "itself";
    std::string words;
    size_t from = 0;
    for (;;) {
        const size_t plus = source.find('+', from);
        words += (from == 0 ? "port " : " and port ") + source.substr(from, plus - from);
        if (plus == std::string::npos) return words;
        from = plus + 1;
    }
}

void AddWiringProblem(const BatchRow& row, std::vector<std::string>& problems) {
    const std::string& own = row.cells[kColumnNumber];
    if (!row.declared.empty() && row.source != row.declared) {
        problems.push_back("hears " + Heard(row.source, own) + ", expected " +
                           Heard(row.declared, own));
    } else if (row.source.find('+') != std::string::npos) {
        problems.push_back("hears " + Heard(row.source, own) + " at once");
    }
}

void AddDeliveryProblem(const BatchRow& row, std::vector<std::string>& problems) {
    const Delivery& d = row.delivery;
    if (!d.accounted) return;
    const std::string from =
        d.source == row.values.rowIndex ? "it" : "port " + std::to_string(d.source + 1);
    if (d.blocksArrived != d.blocksSent)
        problems.push_back("received " + std::to_string(d.blocksArrived) + " of the " +
                           std::to_string(d.blocksSent) + " blocks " + from + " sent");
    else if (d.bytesArrived != d.bytesSent)
        problems.push_back("received " + std::to_string(d.bytesArrived) + " of the " +
                           std::to_string(d.bytesSent) + " bytes " + from + " sent");
    if (d.cutShort != 0)
        problems.push_back("last block cut short: " + std::to_string(d.cutShort) + " of " +
                           std::to_string(row.values.blockSize) + " bytes");
}

void AddStallProblem(const BatchRow& row, std::vector<std::string>& problems) {
    const Stall* longest = nullptr;
    for (const Stall& stall : row.stalls)
        if (!longest || stall.forMs > longest->forMs) longest = &stall;
    if (!longest) return;
    char text[96];
    std::snprintf(text, sizeof text, "nothing received for %.1f s from %s",
                  static_cast<double>(longest->forMs) / 1000.0,
                  FormatElapsed(longest->fromMs).c_str());
    problems.push_back(text);
    if (row.stalls.size() > 1)
        problems.back() += " (" + std::to_string(row.stalls.size()) + " stalls)";
}

}  // namespace

std::vector<std::string> PortProblems(const BatchRow& row) {
    std::vector<std::string> problems;
    if (!row.tested) {
        // Only what was checked before the test can have found anything.
        AddLineCheckProblem(row, problems);
        AddConditionProblems(row, problems);
        AddWiringProblem(row, problems);
        return problems;
    }
    if (!row.ready) {
        problems.push_back(NotOpenedProblem(row));
        return problems;
    }
    const PortSnapshot& v = row.values;
    if (v.rxErrors != 0) problems.push_back(Count(v.rxErrors, "receive error", "receive errors"));
    if (v.txErrors != 0) problems.push_back(Count(v.txErrors, "send error", "send errors"));
    if (v.lineErrorCount != 0)
        problems.push_back("line errors " + FormatCommErrors(v.lineErrorBits) + " " +
                           Times(v.lineErrorCount));
    if (v.settingsRefused != 0) problems.push_back(SettingsRefusedText(v));
    AddLineCheckProblem(row, problems);
    AddConditionProblems(row, problems);
    AddWiringProblem(row, problems);
    if (v.drops != 0) problems.push_back("lost " + Times(v.drops));
    if (v.blocksLost != 0) problems.push_back(Count(v.blocksLost, "block lost", "blocks lost"));
    // A stopped master lets its last exchange finish: every block it sent
    // must have come back.
    if (v.mode == ModeMaster && v.blocksWritten > v.blocksOk)
        problems.push_back(std::to_string(v.blocksWritten - v.blocksOk) + " of " +
                           std::to_string(v.blocksWritten) + " blocks did not come back");
    AddDeliveryProblem(row, problems);
    AddStallProblem(row, problems);
    if (v.bytesRead == 0) problems.push_back("received nothing");
    if (v.bytesWritten == 0) problems.push_back("sent nothing");
    const std::string rate = RateProblem(row.rate);
    if (!rate.empty()) problems.push_back(rate);
    return problems;
}

BatchSummary Summarise(std::vector<BatchRow>& rows, uint32_t configuredPorts,
                       const DrainOutcome& drain) {
    BatchSummary s;
    s.configured = configuredPorts;
    for (BatchRow& row : rows) {
        if (row.rate.verdict == RateVerdict::NotPaced)
            s.notPaced.push_back(static_cast<int32_t>(&row - rows.data()));
        row.problems = PortProblems(row);
        if (row.ready) ++s.opened;
        if (!row.tested) {
            // Opened (or still opening) when the run was stopped: nothing to
            // judge but what was checked before the test.
            row.outcome = row.problems.empty() ? PortOutcome::NotTested : PortOutcome::Failed;
            if (row.problems.empty()) ++s.notTested;
            if (!row.problems.empty() && row.ready) ++s.failing;
        } else if (!row.ready) {
            ++s.notOpened;
            row.outcome = PortOutcome::NotOpened;
        } else {
            row.outcome = row.problems.empty() ? PortOutcome::Passed : PortOutcome::Failed;
            if (!row.problems.empty()) ++s.failing;
        }
        if (row.problems.empty()) continue;
        std::string reason = PortLabel(row) + ":";
        for (size_t i = 0; i < row.problems.size(); ++i)
            reason += (i == 0 ? " " : ", ") + row.problems[i];
        s.reasons.push_back(reason);
    }
    const uint32_t withRow = static_cast<uint32_t>(rows.size());
    if (configuredPorts > withRow) {
        s.notOpened += configuredPorts - withRow;
        s.reasons.push_back(std::to_string(configuredPorts - withRow) +
                            " configured ports got no row (no worker could be made)");
    }
    if (!drain.quiet) {
        std::string reason = "still receiving after " + std::to_string(drain.seconds) + " s";
        for (size_t i = 0; i < drain.stillReceiving.size(); ++i)
            reason += (i == 0 ? ": ports " : ", ") + std::to_string(drain.stillReceiving[i] + 1);
        s.reasons.insert(s.reasons.begin(), reason);
    }
    if (s.notOpened != 0) {
        s.exitCode = kBatchNotOpened;
    } else if (!s.reasons.empty()) {
        s.exitCode = kBatchErrors;
    } else {
        s.exitCode = kBatchPassed;
    }
    return s;
}

void MarkAborted(BatchSummary& summary, uint64_t ranMs, uint64_t plannedMs) {
    summary.abort = RunAbort{true, ranMs, plannedMs};
    summary.exitCode = kBatchAborted;
}

void MarkUntested(std::vector<BatchRow>& rows, bool testStarted, uint64_t ranMs,
                  uint32_t stallLimitMs) {
    for (BatchRow& row : rows) {
        if (!row.ready) continue;
        const bool silent = row.values.bytesRead == 0 && row.values.bytesWritten == 0;
        if (!testStarted || (silent && ranMs < stallLimitMs)) row.tested = false;
    }
}
