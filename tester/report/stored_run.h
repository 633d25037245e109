// A run as the history database keeps it: its row of `runs` and its rows
// of `port_results` (the final rows as step 0, a sweep's speeds as steps
// 1, 2...), column by column as text, made from the run's JSON record.
//
// The record is the one source of what the database keeps, whether a run
// appends itself as it ends, a later run brings in a record from the spool
// folder, or --import loads a file: the same record gives the same rows.
// Members a record of an earlier version lacks are stored as 0 or "".
#pragma once

#include <string>
#include <utility>
#include <vector>

using StoredColumns = std::vector<std::pair<std::string, std::string>>;  // column, value

struct StoredRun {
    std::string id;        // run.id
    std::string database;  // run.history.database: where the run was meant to go; "" for none
    StoredColumns run;
    std::vector<StoredColumns> ports;
};

// Reads `json` (a run record, json_record.h). False, saying why, for a text
// that is not one: not JSON, no run id or times, a schema version this
// vesktest does not know.
bool ReadStoredRun(const std::string& json, StoredRun& run, std::string& error);
