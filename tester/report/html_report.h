// The page an unattended run leaves behind for a person to look at: the
// verdict and its reasons, the final table with each port's result and
// what kept it from passing, and, for each port, a chart of the received
// rate over time with marks where errors, line errors and drops happened,
// drawn from the interval log's samples (interval_log.h).
//
// One self-contained HTML file: inline CSS and SVG, no scripts, nothing
// fetched; any browser shows it, offline and from a mail attachment.
// Each port is a <section class="port" data-port="NAME"
// data-verdict="passed|failed|not-opened"> holding one
// <svg class="chart">; its marks are elements of class "mark errors",
// "mark line-errors" and "mark drops", each with a <title> that says when
// and what; a stall (the port received nothing for longer than the run
// allows) is a band of class "mark stall" over its time. The measures of a port (its round trips as
// a master, its rate check) follow its chart in a <p class="measures">, or for a sweep in a <table
// class="measures"> with a row per speed.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tester/report/port_result.h"
#include "tester/report/run_record.h"
#include "tester/report/sweep_report.h"
#include "tester/report/interval_log.h"

struct HtmlReport {
    std::string programTitle;  // "VeskTest (Linux) - ver 1.1.2 (build 001)"
    std::string configPath;
    RunTags tags;          // unit, station, operator: in the header when given
    uint32_t seconds = 0;  // the test time asked for
    bool pairs = false;
    uint32_t intervalSeconds = 0;
    BatchSummary summary;
    std::vector<std::string> titles;  // the columns'
    std::vector<BatchRow> rows;       // as the run ended
    // Oldest first, ports in row order; null for none. Not owned.
    const std::vector<LogSample>* samples = nullptr;
    // A sweep's speeds, in the order run; null for a run at one speed. Not
    // owned. The verdict is then the sweep's, and each speed gets a
    // <section class="speed" data-baud="N" data-verdict="..."> with its
    // verdict and table, in place of the final rows.
    const std::vector<SweepStep>* sweep = nullptr;
    // The wiring the run went by ("1-2, 3-4, 5 loop"), "" when unknown.
    std::string wiring;
    // Where the test's start falls on the samples' time line: the stalls
    // (BatchRow::stalls, from the test's start) are drawn from there.
    uint32_t testStartMs = 0;
};

// Charts draw at most this many points; longer series are cut into equal
// runs of samples, each drawn as its highest rate with every mark of the
// run kept.
constexpr size_t kMaxChartPoints = 1500;

std::string FormatHtmlReport(const HtmlReport& report);
