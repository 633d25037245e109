#include "tester/report/measure_columns.h"

#include <cstdio>

#include "tester/engine/port_worker.h"
#include "tester/report/condition_check_text.h"

const std::vector<std::string> kWiringTitles = {"Source"};
const std::vector<std::string> kRoundTripTitles = {"RttMinMs", "RttP50Ms", "RttP99Ms", "RttMaxMs"};
const std::vector<std::string> kRateTitles = {"RateExpected", "RateMeasured", "RateRatio",
                                              "RateCheck"};

namespace {

std::string Fixed(double value, int decimals) {
    char text[48];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

bool IsMaster(const BatchRow& row) {
    return row.ready && row.values.mode == ModeMaster;
}

}  // namespace

std::string Milliseconds(uint64_t us) {
    return Fixed(static_cast<double>(us) / 1000.0, 3);
}

MeasureColumns MeasureColumnsOf(const std::vector<BatchRow>& rows) {
    MeasureColumns columns;
    for (const BatchRow& row : rows) {
        if (!row.source.empty()) columns.wiring = true;
        if (IsMaster(row)) columns.roundTrips = true;
        if (row.rate.verdict != RateVerdict::NotChecked) columns.rates = true;
    }
    columns.conditions = ConditionsChecked(rows);
    return columns;
}

std::vector<std::string> MeasureTitles(const MeasureColumns& columns) {
    std::vector<std::string> titles;
    if (columns.wiring) titles.insert(titles.end(), kWiringTitles.begin(), kWiringTitles.end());
    if (columns.roundTrips)
        titles.insert(titles.end(), kRoundTripTitles.begin(), kRoundTripTitles.end());
    if (columns.rates) titles.insert(titles.end(), kRateTitles.begin(), kRateTitles.end());
    for (std::string& title : ConditionTitles(columns.conditions))
        titles.push_back(std::move(title));
    return titles;
}

std::vector<std::string> MeasureCells(const BatchRow& row, const MeasureColumns& columns) {
    std::vector<std::string> cells;
    if (columns.wiring) cells.push_back(row.source);
    if (columns.roundTrips) {
        const LatencySummary& t = row.values.roundTrips;
        if (IsMaster(row) && t.count != 0) {
            for (uint64_t us : {t.minUs, t.p50Us, t.p99Us, t.maxUs})
                cells.push_back(Milliseconds(us));
        } else {
            cells.resize(cells.size() + kRoundTripTitles.size());
        }
    }
    if (columns.rates) {
        const RateCheck& r = row.rate;
        const bool measured = r.Measured();
        cells.push_back(
            r.verdict != RateVerdict::NotChecked && r.expected > 0 ? Fixed(r.expected, 1) : "");
        cells.push_back(measured ? Fixed(r.measured, 1) : "");
        cells.push_back(measured ? Fixed(r.ratio, 3) : "");
        cells.push_back(RateVerdictText(r.verdict));
    }
    for (std::string& cell : ConditionCells(row, columns.conditions))
        cells.push_back(std::move(cell));
    return cells;
}
