// One unattended run as a whole, as the outputs that keep it see it: the
// JSON record, the JUnit file and the history database. It is made once,
// as the run ends, from the run's own records (port_result.h,
// sweep_report.h) and what the command line asked for; the writers only
// present it.
//
// Times are Unix milliseconds (UTC) and are written as RFC 3339 UTC with
// milliseconds, "2026-05-01T22:10:05.123Z": one fixed width, so that the
// texts sort as the times do.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tester/report/port_result.h"
#include "tester/report/sweep_report.h"

// How a run ended, in the words production test records use: PASS, FAIL
// (it tested every port and found a fault), ERROR (it could not test every
// port: one did not open), ABORTED (it was stopped before its time).
enum class RunOutcome { Pass, Fail, Error, Aborted };
const char* RunOutcomeName(RunOutcome outcome);

// How one port came out, for the records that judge per port: PASS, FAIL,
// ERROR (it did not open, or it was lost while it ran), SKIPPED (it opened
// but was not tested: the run was stopped first).
enum class PortVerdict { Pass, Fail, Error, Skipped };
const char* PortVerdictName(PortVerdict verdict);
PortVerdict PortVerdictOf(const BatchRow& row);

// Who ran the test on what: the unit under test's serial number, the
// station (the host name unless given) and the operator. Empty: not given.
struct RunTags {
    std::string unit;
    std::string station;
    std::string operatorName;
};

// What the run was asked to do: the test and the line settings every
// port was given.
struct RunSettings {
    std::string configPath;
    uint32_t seconds = 0;  // the test time of each test
    bool pairs = false;    // half-duplex pairs instead of full duplex
    bool lines = false;    // the modem-line check first
    bool checkRate = false;
    uint32_t drainLimitSeconds = 0;
    std::vector<uint32_t> sweepRates;  // a sweep's speeds; empty for one test
    uint32_t baudRate = 0;             // the configuration's own speed
    uint32_t byteSize = 8;
    uint32_t parity = 0;    // ParityNames index
    uint32_t stopBits = 0;  // StopBitsNames index
    uint32_t flowControl = 0;
    uint32_t blockSize = 0;
    // The limits the rate check judged by (rate_check.h): the share a
    // port may be off its line's rate either way, and the ratio above
    // which it is not a paced line.
    double rateTolerance = 0;
    double notPacedRatio = 0;
};

// "8N1", "7E2", "8N1.5": data bits, parity letter, stop bits.
std::string FrameText(uint32_t byteSize, uint32_t parity, uint32_t stopBits);

struct RunRecord {
    std::string tool = "vesktest";
    std::string version;       // "1.1.2.1": major, minor, patch, build
    std::string programTitle;  // "VeskTest (Linux) - ver 1.1.2 (build 001)"
    std::string runId;         // NewRunId()
    int64_t startedMs = 0;
    int64_t endedMs = 0;
    std::string commandLine;
    RunSettings settings;
    // Whom each port hears, "1<2 2<1 3<3", from the rows' wiring (probed
    // or declared); "" when no row knows its source.
    std::string wiring;
    RunTags tags;
    bool stopped = false;  // a stop request cut the run short
    // How long the test directions ran, every speed of a sweep together:
    // the time asked for, or less when the run was stopped.
    uint64_t testRanMs = 0;
    RunOutcome outcome = RunOutcome::Pass;
    int exitCode = kBatchPassed;   // as it stands when the record is written
    std::string summaryLine;       // the last line the run printed, without "vesktest: "
    BatchSummary summary;          // of the final rows
    std::vector<BatchRow> rows;    // the final rows, judged
    std::vector<SweepStep> steps;  // a sweep's speeds, in the order run; empty otherwise
    // The history database the run was appended to (shown without its
    // password), whether it was, and why not; "" when none was asked for.
    std::string database;
    bool databaseStored = false;
    std::string databaseError;
};

// The record of a run that ended now, with a fresh id. `rows` are the
// final rows and `summary` their verdict; `steps` a sweep's (empty for one
// test); `exitCode` the run's code so far. The outcome, the summary line
// and the wiring are made here from those; the tool's version, the tags
// and the command line are the caller's to fill in.
RunRecord MakeRunRecord(RunSettings settings, int64_t startedMs, std::vector<BatchRow> rows,
                        BatchSummary summary, std::vector<SweepStep> steps, int exitCode,
                        bool stopped);

// The outcome the records say: ABORTED when stopped, ERROR when a port
// did not open, FAIL when the test (or a sweep's speed, or the modem-line
// check) failed, else PASS.
RunOutcome RunOutcomeOf(const RunRecord& record);

// Wall-clock time now, Unix milliseconds.
int64_t UnixMsNow();

// "2026-05-01T22:10:05.123Z".
std::string Rfc3339Utc(int64_t unixMs);

// "2026-05-01" (UTC midnight) or "2026-05-01T22:10:05Z" (seconds, with an
// optional fraction, and "Z") as Unix milliseconds. False for anything
// else, a date that does not exist included.
bool ParseUtcTime(const std::string& text, int64_t& unixMs);

// A fresh random identifier, 32 hexadecimal digits in the 8-4-4-4-12
// layout of a version 4 UUID: unique across stations that write one
// database.
std::string NewRunId();
