// Run records that reach the history later. The spool folder: the records
// of runs the history database could not take (it was down, full, refused
// the login), kept until a later run that reaches the same database brings
// them in. A record there is the run's JSON record, "<run id>.json", which
// names the database it was meant for (run.history.database). And
// `vesktest --db URL --import RECORD.json...`: any run's records, from the
// spool or written by --json on a station without a database.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>
#include <vector>

#include "tester/report/run_history.h"

// <the program's state folder>/spool (platform/state_folder.h); "" when
// the environment names no home.
std::string SpoolFolder();

// Keeps `record` in `folder` (made when it is not there) as
// "<runId>.json", written whole. False, saying why, when it cannot.
bool SpoolRecord(const std::string& folder, const std::string& runId, const std::string& record,
                 std::string& path, std::string& error);

// Brings the records in `folder` that were meant for `history` (by its
// Where()) into it, oldest file first, and removes each once the history
// has it (stored now or before). Stops at the first the database refuses;
// says on `err` what went in and what did not. How many went in.
size_t FlushSpool(const std::string& folder, RunHistory& history, std::FILE* err);

// --import: each file's record into `history`, one line for each on `out`
// ("stored", "already in the history"), what went wrong on `err`. Returns
// 0 when the history has every record, kBatchHistoryFailed when the
// database could not take one (the rest are not tried), else 2 when a file
// could not be read or is not a run record (the rest are tried).
int ImportRecords(const std::vector<std::string>& files, RunHistory& history, std::FILE* out,
                  std::FILE* err);
