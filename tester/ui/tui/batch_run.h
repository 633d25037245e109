// An unattended run of the tester: no screen, a fixed time, the final rows
// printed and the outcome as the exit code (batch_report.h).
//
// The run goes through the same parts as the front ends: the workers are
// made from the configuration and reached through the rows, the rows are
// refreshed every 500 ms by the shared refresh, every start and stop is a
// port command, and the end is the orderly shut-down.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

struct BatchOptions {
    uint32_t seconds = 0;    // how long the test directions run
    bool pairs = false;      // half-duplex pairs instead of full duplex
    std::string reportPath;  // CSV of the final rows, when not empty
    bool progress = false;   // a progress line every few seconds, on `out`
};

// How long the run waits for every port to have opened (or failed to):
// a network port's connect can take a while.
constexpr uint32_t kOpenWaitMs = 20000;
// The receivers are stopped once nothing has arrived for this long (five
// read time-outs of the workers), or at the latest after kDrainLimitMs.
constexpr uint32_t kQuietMs = 500;
constexpr uint32_t kDrainLimitMs = 60000;
// A progress line this often.
constexpr uint32_t kProgressEveryMs = 5000;

// Loads the configuration from configPath, runs the test (cut short by a
// stop signal, stop_request.h, and then drained and reported all the same)
// and writes the
// table and a summary line to `out` (problems to `err`).
// Returns the exit code: kBatchPassed, kBatchErrors or kBatchNotOpened. The
// configuration file is not written: a run changes no setting.
int RunBatch(const BatchOptions& options, std::FILE* out, std::FILE* err);
