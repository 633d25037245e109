#include "tester/session/condition_check_command.h"

#include "tester/engine/port_worker.h"
#include "tester/session/line_check_command.h"

std::vector<ConditionCheck> ConditionChecksOfCommand() {
    return {ConditionCheck::Flow, ConditionCheck::Break, ConditionCheck::Parity};
}

std::string FormatConditionCheckMessage(const std::vector<ConditionRun>& runs) {
    if (runs.empty()) return std::string();
    std::string text;
    // Every run has the same outcomes in the same order: one per port.
    for (size_t i = 0; i < runs[0].outcomes.size(); ++i) {
        const LineCheckOutcome& first = runs[0].outcomes[i];
        if (!first.worker) continue;
        if (!text.empty()) text += "\n";
        text += OutcomeHeading(first);
        for (const ConditionRun& run : runs)
            if (i < run.outcomes.size())
                text += std::string("\n  ") + ConditionCheckName(run.check) + ": " +
                        run.outcomes[i].result.text;
    }
    return text;
}
