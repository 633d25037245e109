#include "tester/report/port_result.h"

const char* PortOutcomeName(PortOutcome outcome) {
    switch (outcome) {
        case PortOutcome::Passed:
            return "passed";
        case PortOutcome::Failed:
            return "failed";
        case PortOutcome::NotOpened:
            return "not opened";
    }
    return "";
}

std::string PortLabel(const BatchRow& row) {
    return "port " + row.cells[kColumnNumber] + " (" + row.cells[kColumnName] + ")";
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

const char* RateVerdictText(RateVerdict verdict) {
    switch (verdict) {
        case RateVerdict::NotChecked:
            return "";
        case RateVerdict::HalfDuplex:
            return "half duplex";
        case RateVerdict::NotMeasured:
            return "not measured";
        case RateVerdict::Passed:
            return "passed";
        case RateVerdict::Slow:
            return "too slow";
        case RateVerdict::Fast:
            return "too fast";
        case RateVerdict::NotPaced:
            return "not a paced line";
    }
    return "";
}
