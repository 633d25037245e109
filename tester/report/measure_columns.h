// The measures of an unattended run beside the counters: the wiring, a
// half-duplex master's round trips and the rate check, as columns after
// kBatchExtraTitles in the table, the CSV and the HTML report. Each group
// is there only in a run that has it, so that a plain run's report keeps
// the columns it always had:
// - the wiring, when the run probed it or was told it: "Source", the rows
//   each port hears (BatchRow::source);
// - round trips, when any port is a half-duplex master: kRoundTripTitles,
//   milliseconds with three decimals, on the masters' rows (empty on the
//   others, and on a master that got no block back);
// - the rate check, when it was asked for: kRateTitles, the line's rate
//   and the one measured in bytes per second (one decimal), their ratio
//   (three decimals) and the check's word (RateVerdictText);
// - the checks of flow control, breaks and parity the run made: their
//   result columns (condition_check_text.h).
#pragma once

#include <string>
#include <vector>

#include "tester/report/port_result.h"

extern const std::vector<std::string> kWiringTitles;
extern const std::vector<std::string> kRoundTripTitles;
extern const std::vector<std::string> kRateTitles;

struct MeasureColumns {
    bool wiring = false;
    bool roundTrips = false;
    bool rates = false;
    std::vector<ConditionCheck> conditions;
};

// The groups the rows call for.
MeasureColumns MeasureColumnsOf(const std::vector<BatchRow>& rows);

std::vector<std::string> MeasureTitles(const MeasureColumns& columns);
std::vector<std::string> MeasureCells(const BatchRow& row, const MeasureColumns& columns);

// "1.234 ms" and the like, for texts: three decimals.
std::string Milliseconds(uint64_t us);
