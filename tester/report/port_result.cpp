#include "tester/report/port_result.h"
#include "platform/name_table.h"

const char* PortOutcomeName(PortOutcome outcome) {
    static const char* const kNames[] = {"passed", "failed", "not opened", "not tested"};
    return plat::NameOf(outcome, kNames);
}

int WithOutputFailure(int exitCode, int failure) {
    if (failure == kBatchOutputFailed || exitCode == kBatchOutputFailed) return kBatchOutputFailed;
    return exitCode == kBatchAborted ? kBatchAborted : failure;
}

std::string PortLabel(const BatchRow& row) {
    return "port " + row.cells[kColumnNumber] + " (" + row.cells[kColumnName] + ")";
}

const char* LineVerdictName(LineVerdict verdict) {
    static const char* const kNames[] = {"passed", "failed", "not supported", "not checked"};
    return plat::NameOf(verdict, kNames, "not checked");
}

const char* RateVerdictText(RateVerdict verdict) {
    static const char* const kNames[] = {"",         "half duplex", "not measured",    "passed",
                                         "too slow", "too fast",    "not a paced line"};
    return plat::NameOf(verdict, kNames);
}
