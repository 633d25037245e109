// The run's record as one JSON document (--json), for programs that keep
// results per unit: the tool, the run (id, times, command line, settings,
// wiring, tags, outcome, exit code, summary and reasons), and per port its
// name, kind, settings, outcome, reasons, every counter of the final
// table and the result of every check that ran, with units. A sweep adds
// its speeds, each with its verdict and its ports. docs/unattended-runs.md
// documents the schema; kJsonSchemaVersion changes whenever a member
// changes meaning or goes away (new members do not change it).
//
// Measures with a unit are objects {"value": 11520.0, "unit": "B/s"};
// counts of things (blocks, errors, times lost) are plain integers.
#pragma once

#include <string>

#include "tester/report/json_text.h"
#include "tester/report/run_record.h"

constexpr int kJsonSchemaVersion = 1;

std::string FormatJsonRecord(const RunRecord& record);

// The "checks" object of one port alone (the history database keeps it
// beside the port's counters): one member per check that ran on it.
std::string PortChecksJson(const BatchRow& row, const RunSettings& settings);

// The run's settings object alone (the history database's runs.settings).
std::string RunSettingsJson(const RunSettings& settings);
