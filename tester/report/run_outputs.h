// The outputs that keep a run once it has ended: the history database
// (--db), the JSON record (--json) and the JUnit file (--junit). They are
// written from the run's record alone, after the table, the CSV and the
// HTML page, and each is tried whatever became of the others: a database
// that cannot be reached costs the history this run, never the files.
#pragma once

#include <cstdio>
#include <string>

#include "tester/report/run_history.h"
#include "tester/report/run_record.h"

struct RunOutputOptions {
    RunTags tags;                   // --unit, --station (the host name unless given), --operator
    std::string version;            // "1.1.2.1"
    std::string commandLine;        // as the program was started
    std::string jsonPath;           // --json, when not empty
    std::string junitPath;          // --junit, when not empty
    RunHistory* history = nullptr;  // --db; not owned

    bool Wanted() const { return !jsonPath.empty() || !junitPath.empty() || history; }
};

// Appends the record to the history first (so that the files can say
// whether it was), then writes the JSON and the JUnit file, each whole or
// not at all (output_file.h); says on `err` what could not be done.
// Returns the exit code: the record's, or kBatchOutputFailed when a file
// could not be written, else kBatchHistoryFailed when the database could
// not be; the record's exit code is that of the files' moment.
int WriteRunOutputs(RunRecord& record, const RunOutputOptions& options, std::FILE* err);
