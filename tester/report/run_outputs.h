// The outputs that keep a run once it has ended: the history database
// (--db), the JSON record (--json) and the JUnit file (--junit). They are
// written from the run's record alone, after the table, the CSV and the
// HTML page, and each is tried whatever became of the others: a database
// that cannot be reached costs the history this run for now, never the
// files; the run's record then waits in the spool folder (run_spool.h).
#pragma once

#include <cstdio>
#include <string>

#include "tester/report/run_history.h"
#include "tester/report/run_record.h"

struct RunOutputOptions {
    RunTags tags;                   // --unit, --station (the host name unless given), --operator
    std::string version;            // "1.1.2.1"
    std::string commandLine;        // as the program was started, passwords masked
    std::string jsonPath;           // --json, when not empty
    std::string junitPath;          // --junit, when not empty
    RunHistory* history = nullptr;  // --db; not owned
    std::string spoolFolder;        // where a run the database could not take is kept

    bool Wanted() const { return !jsonPath.empty() || !junitPath.empty() || history; }
};

// Writes the outputs so that every one that is written states the exit
// code the program returns: the files are first written to their
// temporaries, so that one that cannot be written (kBatchOutputFailed)
// is known before the database row states the code; then the run goes to
// the history (a failure there is kBatchHistoryFailed, by
// WithOutputFailure's order, and the record goes to the spool folder);
// then the files are written again with the history's outcome and moved
// into place. After a run the database took, the records waiting in the
// spool for that database go in too. Says on `err` what could not be
// done; returns the exit code.
//
// One double fault is left: a file whose temporary was written a moment
// before and then cannot be written again or moved into place ends the run
// with kBatchOutputFailed after the database row (if any) was stored with
// the code before it.
int WriteRunOutputs(RunRecord& record, const RunOutputOptions& options, std::FILE* err);
