// An unattended run of the tester: no screen, a fixed time, the final rows
// printed and the outcome as the exit code (report/port_result.h).
//
// The run is a tester session like the front ends' (tester_session.h):
// the same start, refresh and orderly shut-down; every start and stop is a
// port command on the rows. In order:
//   1. the ports open (kOpenWaitMs at most; a port not open by then takes
//      no part and fails the run, saying why);
//   2. the wiring: each port identifies itself and every port listens
//      (wiring_probe.h), unless told not to; a declared wiring (--wiring)
//      is compared with what was learned;
//   3. the modem lines of the wired pairs (--lines);
//   4. the test, watched for stalls, with the rate window (--check-rate);
//   5. the senders stop, the receivers drain until the lines are quiet and
//      every routine has ended, then stop;
//   6. every receiver's blocks against its source's (delivery.h), the
//      verdict, the table, the reports.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "tester/batch/wiring.h"
#include "tester/report/run_outputs.h"

// How long the run waits for every port to have opened (or failed to):
// a network port's connect can take a while.
constexpr uint32_t kOpenWaitMs = 20000;
// The receivers are stopped once nothing has arrived for this long (five
// read time-outs of the workers), or at the latest after the drain limit,
// which fails the run: on a clean line every block sent arrives soon after
// the senders stop.
constexpr uint32_t kQuietMs = 500;
constexpr uint32_t kDrainLimitMs = 60000;
// A progress line this often.
constexpr uint32_t kProgressEveryMs = 5000;

class IntervalLog;
class MetricsFile;

struct BatchOptions {
    uint32_t seconds = 0;    // how long the test directions run
    bool pairs = false;      // half-duplex pairs instead of full duplex
    std::string reportPath;  // CSV of the final rows, when not empty
    bool progress = false;   // a progress line every few seconds, on `out`
    // Asked while the test runs: true cuts the test time short (the run is
    // then drained and reported all the same). Null: never.
    std::function<bool()> stopRequested;
    // How long the receivers may go on after the senders have stopped
    // before the run gives up on the lines going quiet (and fails).
    uint32_t drainLimitMs = kDrainLimitMs;
    // Sampled while the run goes on, and once more at its end. Not owned.
    IntervalLog* log = nullptr;
    // Rewritten every interval while the run goes on, with the results of
    // the checks as they become known, and a last time with the run's
    // outcome (metrics_file.h). Its problems go to `err`, once. Not owned.
    MetricsFile* metrics = nullptr;
    // The HTML report (html_report.h), from the log's samples, when not
    // empty; its page names the program by `programTitle`.
    std::string htmlPath;
    std::string programTitle;
    // Check the modem lines of every port before the test (--lines;
    // line_check_report.h).
    bool lines = false;
    // Judge what every port received against its line's rate (rate_check.h);
    // the test must last at least kRateMinTestSeconds.
    bool checkRate = false;
    // The checks of flow control, breaks and parity to make on every port
    // before the test (--check-flow, --check-break, --check-parity;
    // condition_check_run.h), in the order flow, break, parity.
    bool checkFlow = false;
    bool checkBreak = false;
    bool checkParity = false;
    // A sweep (sweep_report.h): the whole test at each of these speeds in
    // turn, on every port, with the rate check. Empty: one test at the
    // configured speed.
    std::vector<uint32_t> sweepRates;
    // Learn the wiring before the test (the default); false for a device
    // that must not see foreign bytes, which then goes by `wiring` alone.
    bool probe = true;
    // The wiring the bench is meant to have (--wiring); None: not declared.
    WiringDeclaration wiring;
    // How long a port may receive nothing while the test runs; 0: the
    // default (DefaultStallLimitMs).
    uint32_t stallMs = 0;
    // The outputs that keep the run (--unit, --station, --operator, --db,
    // --json, --junit): written from its record once it has ended.
    RunOutputOptions outputs;
};

// Exit code of a run whose --wiring does not fit the configuration.
constexpr int kBatchUsage = 2;

// Loads the configuration from configPath, runs the test (cut short when
// options.stopRequested says so) and writes the table and a summary line to
// `out` (problems to `err`). A sweep writes each speed's table and verdict
// line as the speed ends, then the sweep's verdict; its speeds are put on
// the ports as the settings form puts a speed on the selected rows.
// Returns the exit code: kBatchPassed, kBatchErrors, kBatchNotOpened, or
// that of an output that failed: kBatchOutputFailed when a report, the
// page, the log, the JSON record or the JUnit file could not be written
// (whatever the test found: a script must not go on to read a file that is
// missing or cut), kBatchHistoryFailed when the history database could not
// take the run (run_outputs.h). The configuration file is not written: a
// run changes no setting.
int RunBatch(const BatchOptions& options, std::FILE* out, std::FILE* err);
