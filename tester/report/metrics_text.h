// The session's ports as metrics in the Prometheus text format (version
// 0.0.4), for a floor's Prometheus to collect from every station: counters
// that only grow (until the Clear command or a settings change zeroes the
// row, which Prometheus takes as a counter reset), gauges of what is now,
// one series per possible value of a state (1 for the one that holds),
// and the results of the run's checks once known. Every port's series
// carry the labels station, unit, port (the Name cell) and row (the #
// cell); the run's carry station and unit.
//
// The text is what node_exporter's and windows_exporter's textfile
// collectors serve as it stands: no timestamps, every family's samples
// together under its HELP and TYPE lines, label values escaped.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tester/engine/port_snapshot.h"
#include "tester/report/port_result.h"
#include "tester/report/run_record.h"

// The checks of a run whose results become metrics, in the order of their
// label values: "wiring", "delivery", "flow", "break", "parity", "rate",
// "modem lines".
enum class MetricCheck { Wiring, Delivery, Flow, Break, Parity, Rate, ModemLines };
constexpr int kMetricChecks = 7;
const char* MetricCheckName(MetricCheck check);

// A check's result: Unknown until the run has made it (no series then),
// else "passed", "failed", "not supported", "not checked".
enum class MetricResult { Unknown, Passed, Failed, NotSupported, NotChecked };
const char* MetricResultName(MetricResult result);

struct PortChecks {
    MetricResult of[kMetricChecks] = {};
    MetricResult& operator[](MetricCheck c) { return of[static_cast<int>(c)]; }
    MetricResult operator[](MetricCheck c) const { return of[static_cast<int>(c)]; }
};

// What the run knows of a port's checks from its row: the wiring once a
// source is known or declared, the delivery once accounted, the rate, flow,
// break, parity and modem-line checks once made (a rate not judged, such as
// a half-duplex port's or one that is not a paced line, is "not
// supported"; one the run ended before measuring, "not checked").
PortChecks ChecksOfRow(const BatchRow& row);

// The port's state, as one of kPortStates: "stopped" (open, no direction
// running), "reading", "writing", "both" (full duplex), "master",
// "slave" (half duplex, running), "lost" (down, being opened again),
// "opening", "not open" (could not be opened, or no buffers).
const char* PortStateLabel(const PortSnapshot& port);
constexpr int kPortStates = 9;
extern const char* const kPortStateLabels[kPortStates];

// The labels every series of a station carries.
struct MetricLabels {
    std::string station;
    std::string unit;
};

// One port at the moment of a write.
struct PortMetrics {
    PortSnapshot values;
    uint64_t rxRate = 0;  // bytes per second over the last interval
    PortChecks checks;
};

// The run at the moment of a write.
struct RunMetrics {
    MetricLabels labels;
    RunOutcome outcome = RunOutcome::Pass;  // so far, or at the end
    bool running = true;
    int64_t startedMs = 0;  // Unix ms
    std::vector<PortMetrics> ports;
};

// The outcome so far, from what the ports show and the checks known: ERROR
// when a port did not open, FAIL when an open port counted an error of any
// kind, was lost, lost blocks, refused its settings or failed a check,
// else PASS.
RunOutcome OutcomeSoFar(const std::vector<PortMetrics>& ports);

// `value` with \, " and line feeds escaped, for between the quotes.
std::string EscapeLabelValue(const std::string& value);

// The whole text, every line ended by "\n".
std::string FormatMetrics(const RunMetrics& run);
