// The verdict of an unattended run: what keeps each port from passing, and
// the run's outcome and exit code.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tester/report/port_result.h"

// What keeps one port from passing, each in a few words ("3 receive
// errors", "lost 1 time", "received nothing"); none when it passes. A port
// passes only when it opened, data went both ways (a line that sends into
// a broken wire counts no error, its reads just come back empty), no
// receive, send or line error was counted, the port was never lost, every
// block its far end sent arrived whole (when the wiring is known), it
// never went without data for longer than the stall limit, a half-duplex
// master got every block back, and the checks that ran passed (the modem
// lines, the rate).
std::vector<std::string> PortProblems(const BatchRow& row);

// Judges every row (its problems and outcome) and the run:
// kBatchNotOpened when any configured port was not opened (a port without
// a row included: its worker could not be made), else kBatchErrors when
// any open port has problems or the drain did not end, else kBatchPassed.
// The first wins because a run that could not reach every line tested less
// than it was asked to, whatever it found on the others.
BatchSummary Summarise(std::vector<BatchRow>& rows, uint32_t configuredPorts,
                       const DrainOutcome& drain = DrainOutcome());
// A run (or a sweep's speed) that a stop request cut short: its summary
// says so, with how long the test ran of how long it was to run, and its
// exit code is kBatchAborted. Its reasons stay: what was found until then.
void MarkAborted(BatchSummary& summary, uint64_t ranMs, uint64_t plannedMs);

// The rows of a run cut short that have nothing to be judged by: every
// open port when the test never started, and the ports that moved nothing
// when it ran shorter than the stall limit (a silence the test itself
// would not yet call a fault). Called before Summarise.
void MarkUntested(std::vector<BatchRow>& rows, bool testStarted, uint64_t ranMs,
                  uint32_t stallLimitMs);

// The summary alone, of rows no one keeps.
inline BatchSummary Summarise(std::vector<BatchRow>&& rows, uint32_t configuredPorts,
                              const DrainOutcome& drain = DrainOutcome()) {
    return Summarise(rows, configuredPorts, drain);
}
