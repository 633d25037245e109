// The end of an unattended run for the outputs that keep it (--db, --json,
// --junit; run_outputs.h): the run's record made from its final rows, its
// verdict and what the run was asked to do.
#pragma once

#include <cstdint>
#include <cstdio>
#include <vector>

#include "tester/batch/batch_run.h"
#include "tester/report/sweep_report.h"

// Makes the record of the run that started at `startedMs` (UnixMsNow) and
// hands it to the outputs of options.outputs. `exitCode` is the run's so
// far; returns it, or the code of an output that failed.
int KeepRunRecord(const BatchOptions& options, int64_t startedMs,
                  const std::vector<BatchRow>& final, const BatchSummary& summary,
                  const std::vector<SweepStep>& sweep, int exitCode, std::FILE* err);
