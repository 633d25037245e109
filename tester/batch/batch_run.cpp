#include "tester/batch/batch_run.h"

#include <cerrno>
#include <cstring>
#include <memory>
#include <vector>

#include "platform/clock.h"
#include "tester/batch/batch_report.h"
#include "tester/batch/condition_check_report.h"
#include "tester/batch/html_report.h"
#include "tester/batch/line_check_report.h"
#include "tester/batch/rate_check.h"
#include "tester/batch/sweep.h"
#include "tester/config/configuration.h"
#include "tester/engine/port_worker.h"
#include "tester/session/refresh.h"
#include "tester/session/tester_session.h"
#include "tester/ui/interval_log.h"
#include "tester/ui/port_commands.h"
#include "tester/ui/row_store.h"

namespace {

constexpr uint32_t kPollMs = 50;
// What a receive routine may still be doing once its run event is reset:
// finishing the read in progress, one read time-out at most.
constexpr uint32_t kSettleMs = 200;

bool Ready(PortWorker* worker) {
    return worker && worker->notReady.load(std::memory_order_relaxed) == 0;
}

bool StopRequested(const BatchOptions& options) {
    return options.stopRequested && options.stopRequested();
}

// The rows as they are now, with the counters of the ready ones.
std::vector<BatchRow> Collect(RowStore& rows) {
    std::vector<BatchRow> collected;
    for (RowStore::RowView& view : rows.Snapshot()) {
        BatchRow row;
        for (int c = 0; c < kPortListColumns; ++c)
            row.cells[c] = std::move(view.cells[c]);
        row.ready = Ready(view.worker);
        if (row.ready) {
            row.values = ReadRowValues(*view.worker);
            row.roundTrips = view.worker->roundTrips.Summarise();
            if (row.values.settingsRefused != 0)
                row.settingsRefused = view.worker->portAccess.ErrorText(row.values.settingsRefused);
        }
        if (view.worker && !row.ready) row.openFailure = view.worker->OpenFailure();
        collected.push_back(std::move(row));
    }
    return collected;
}

// Every worker's port has opened or failed to, or the bound has passed.
void WaitForOpens(RowStore& rows, int32_t workers) {
    const uint32_t start = plat::tickCount();
    while (plat::ticksBetween(start, plat::tickCount()) < kOpenWaitMs) {
        int32_t settled = 0;
        for (const RowStore::RowView& view : rows.Snapshot())
            if (Ready(view.worker) || view.cells[8] == "Not open") ++settled;
        if (settled >= workers) return;
        plat::sleepMs(kPollMs);
    }
}

// Waits until nothing has arrived on any port for kQuietMs, or gives up at
// `limitMs` and says which rows were still receiving then.
DrainOutcome Drain(RowStore& rows, uint32_t limitMs, IntervalLog* log) {
    struct Seen {
        uint64_t bytes = 0;
        uint32_t changedAt = 0;
    };
    const uint32_t start = plat::tickCount();
    std::vector<Seen> seen;
    uint32_t lastChange = start;
    for (;;) {
        if (log) log->Poll(rows);
        const uint32_t now = plat::tickCount();
        const std::vector<RowStore::RowView> views = rows.Snapshot();
        seen.resize(views.size(), Seen{0, start});
        for (size_t r = 0; r < views.size(); ++r) {
            if (!Ready(views[r].worker)) continue;
            const uint64_t bytes = views[r].worker->bytesRead.load(std::memory_order_relaxed);
            if (bytes != seen[r].bytes) {
                seen[r] = Seen{bytes, now};
                lastChange = now;
            }
        }
        if (plat::ticksBetween(lastChange, now) >= kQuietMs) return DrainOutcome();
        if (plat::ticksBetween(start, now) >= limitMs) {
            DrainOutcome outcome;
            outcome.quiet = false;
            outcome.seconds = limitMs / 1000;
            for (size_t r = 0; r < seen.size(); ++r)
                if (plat::ticksBetween(seen[r].changedAt, now) < kQuietMs)
                    outcome.stillReceiving.push_back(static_cast<int32_t>(r));
            return outcome;
        }
        plat::sleepMs(kPollMs);
    }
}

// Runs the test for its time; with `rates`, opens the rate check's window
// once the lines have settled and closes it as the time is up.
void RunFor(RowStore& rows, const BatchOptions& options, std::FILE* out, RateWindow* rates) {
    const uint32_t start = plat::tickCount();
    const uint32_t total = options.seconds * 1000u;
    uint32_t nextProgress = kProgressEveryMs;
    for (;;) {
        if (options.log) options.log->Poll(rows);
        const uint32_t spent = plat::ticksBetween(start, plat::tickCount());
        if (spent >= total || StopRequested(options)) {
            if (rates) rates->Close(rows);
            return;
        }
        if (rates && !rates->IsOpen() && spent >= kRateSettleMs) rates->Open(rows);
        if (options.progress && spent >= nextProgress) {
            std::fprintf(out, "vesktest: %s\n",
                         ProgressLine(spent / 1000, options.seconds, Collect(rows)).c_str());
            std::fflush(out);
            nextProgress += kProgressEveryMs;
        }
        uint32_t left = total - spent;
        // The window opens on time, not up to a poll late.
        if (rates && !rates->IsOpen() && kRateSettleMs - spent < left) left = kRateSettleMs - spent;
        plat::sleepMs(left < kPollMs * 4 ? left : kPollMs * 4);
    }
}

// One test of the open ports: started (half-duplex pairs or full duplex),
// run for its time, then the senders stopped first and the receivers let
// go on until the line is quiet, so that every block sent is a block
// received; then the receivers stopped.
struct TestPass {
    DrainOutcome drain;
    RateWindow rates;
};

TestPass RunTest(RowStore& rows, const BatchOptions& options, std::FILE* out) {
    TestPass pass;
    if (options.pairs) {
        RunPortCommand(rows, PortCommand::HdPairs);
    } else {
        RunPortCommand(rows, PortCommand::All);
    }
    RunPortCommand(rows, PortCommand::StartStop);
    RunFor(rows, options, out, options.checkRate ? &pass.rates : nullptr);

    if (options.pairs) {
        RunPortCommand(rows, PortCommand::Odd);  // the masters
        RunPortCommand(rows, PortCommand::StartStop);
        pass.drain = Drain(rows, options.drainLimitMs, options.log);
        RunPortCommand(rows, PortCommand::Even);  // the slaves
        RunPortCommand(rows, PortCommand::StartStop);
    } else {
        RunPortCommand(rows, PortCommand::Write);
        pass.drain = Drain(rows, options.drainLimitMs, options.log);
        RunPortCommand(rows, PortCommand::Read);
    }
    plat::sleepMs(kSettleMs);
    return pass;
}

void AttachRateChecks(std::vector<BatchRow>& rows, const TestPass& pass, bool checkRate) {
    if (!checkRate) return;
    const std::vector<RateCheck>& checks = pass.rates.Checks();
    for (size_t r = 0; r < rows.size() && r < checks.size(); ++r)
        rows[r].rate = checks[r];
}

// The rows now, while the refresh runs on: the line errors the ports hold
// are read first (as a refresh would), and the refreshed cells are made
// from the counters read, so that the table shows this moment and not the
// last tick.
std::vector<BatchRow> CollectNow(RowStore& rows) {
    for (const RowStore::RowView& view : rows.Snapshot()) {
        if (!Ready(view.worker)) continue;
        RefreshCommErrors(*view.worker);
        UpdateErrorKindText(*view.worker);
    }
    std::vector<BatchRow> collected = Collect(rows);
    for (BatchRow& row : collected) {
        if (!row.ready) continue;
        const RowCells cells = FormatRowCells(row.values);
        for (int c = kFirstRefreshedColumn; c <= kColumnState; ++c)
            row.cells[c] = cells.text[c - kFirstRefreshedColumn];
    }
    return collected;
}

// The speed on every port, as the settings form's OK puts the settings on
// the selected rows: both directions stopped, the counters zeroed.
void PutSpeedOnEveryPort(RowStore& rows, uint32_t baudRate) {
    configuration.portSettings.baudRate = baudRate;
    RunPortCommand(rows, PortCommand::All);
    RunPortCommand(rows, PortCommand::ApplySettings);
}

// The test at each speed in turn, each speed's table and verdict line
// written as it ends. A stop request ends the sweep after the speed it
// cut short.
std::vector<SweepStep> RunSweep(RowStore& rows, const BatchOptions& options,
                                const std::vector<std::string>& titles, std::FILE* out) {
    std::vector<SweepStep> steps;
    for (uint32_t baudRate : options.sweepRates) {
        PutSpeedOnEveryPort(rows, baudRate);
        const TestPass pass = RunTest(rows, options, out);
        SweepStep step;
        step.baudRate = baudRate;
        step.rows = CollectNow(rows);
        AttachRateChecks(step.rows, pass, true);
        step.summary = Summarise(step.rows, configuration.portCount, pass.drain);
        std::fprintf(out, "vesktest: %u bit/s:\n%s", baudRate,
                     FormatTable(step.rows, titles).c_str());
        std::fprintf(out, "vesktest: %s\n", SweepStepLine(step).c_str());
        std::fflush(out);
        steps.push_back(std::move(step));
        if (StopRequested(options)) break;
    }
    return steps;
}

std::vector<std::string> ColumnTitles() {
    std::vector<std::string> titles;
    for (const ColumnDescriptor& column : configuration.columns)
        titles.push_back(column.title ? column.title : "");
    return titles;
}

// The checks of flow control, breaks and parity the options ask for.
std::vector<ConditionCheck> ConditionChecksOf(const BatchOptions& options) {
    std::vector<ConditionCheck> checks;
    if (options.checkFlow) checks.push_back(ConditionCheck::Flow);
    if (options.checkBreak) checks.push_back(ConditionCheck::Break);
    if (options.checkParity) checks.push_back(ConditionCheck::Parity);
    return checks;
}

bool WriteReport(const std::string& path, const std::string& text, std::FILE* err) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    bool ok = file != nullptr;
    if (ok) {
        ok = std::fwrite(text.data(), 1, text.size(), file) == text.size();
        ok = std::fclose(file) == 0 && ok;
    }
    if (!ok)
        std::fprintf(err, "vesktest: cannot write the report '%s': %s\n", path.c_str(),
                     std::strerror(errno));
    return ok;
}

}  // namespace

int RunBatch(const BatchOptions& options, std::FILE* out, std::FILE* err) {
    // The rows outlive the run when a worker's thread outlives the
    // shut-down: such a thread may still write its row.
    auto rows = std::make_unique<RowStore>();
    std::vector<BatchRow> final;
    std::vector<BatchLineCheck> lineChecks;
    const std::vector<ConditionCheck> conditionChecks = ConditionChecksOf(options);
    std::vector<BatchConditions> conditions;
    DrainOutcome drain;
    std::vector<SweepStep> sweep;
    {
        TesterSession session(*rows);
        session.LoadConfiguration();
        if (!session.Start()) {
            std::fprintf(err, "vesktest: cannot start the test engine\n");
            return kBatchNotOpened;
        }
        WaitForOpens(*rows, session.Workers().Count());
        // The lines while the ports are still quiet: a line whose flow
        // control is paused for the check cannot then cost the test data.
        if (options.lines)
            lineChecks =
                RunBatchLineCheck(session.Workers(), LineCheckTiming(), options.stopRequested);
        // So are the checks of flow control, breaks and parity, which leave
        // the ports drained and their counters zeroed for the test.
        if (!conditionChecks.empty())
            conditions = RunBatchConditionChecks(session.Workers(), conditionChecks,
                                                 ConditionTiming(), options.stopRequested);

        TestPass pass;
        if (options.sweepRates.empty()) {
            pass = RunTest(*rows, options, out);
        } else {
            BatchOptions checked = options;
            checked.checkRate = true;
            sweep = RunSweep(*rows, checked, ColumnTitles(), out);
        }
        session.Stop([&] {
            final = Collect(*rows);
            if (options.log) options.log->Final(*rows);
        });
        if (session.RowsInUse()) (void)rows.release();
        drain = pass.drain;
        AttachRateChecks(final, pass, options.checkRate);
    }

    if (options.lines) AttachLineChecks(final, lineChecks);
    if (!conditionChecks.empty()) AttachConditionChecks(final, conditions, conditionChecks);
    const std::vector<std::string> titles = ColumnTitles();
    const bool swept = !options.sweepRates.empty();
    const BatchSummary summary = Summarise(final, configuration.portCount, drain);
    int exitCode = summary.exitCode;
    if (swept) {
        // Each speed's table and verdict are out already. The lines were
        // checked once, before the first speed: their verdict stands beside
        // the speeds' and fails the sweep on its own.
        exitCode = SweepExitCode(sweep);
        if (options.lines) {
            std::fprintf(out, "vesktest: %s\n", LinesVerdictLine(final).c_str());
            if (LinesFailed(final) && exitCode == kBatchPassed) exitCode = kBatchErrors;
        }
        for (ConditionCheck check : conditionChecks)
            std::fprintf(out, "vesktest: %s\n", ConditionVerdictLine(final, check).c_str());
        if (ConditionsFailed(final) && exitCode == kBatchPassed) exitCode = kBatchErrors;
        std::fprintf(out, "vesktest: %s\n", SweepSummaryLine(sweep).c_str());
    } else {
        std::fputs(FormatTable(final, titles).c_str(), out);
        if (options.lines) std::fprintf(out, "vesktest: %s\n", LinesVerdictLine(final).c_str());
        for (ConditionCheck check : conditionChecks)
            std::fprintf(out, "vesktest: %s\n", ConditionVerdictLine(final, check).c_str());
        std::fprintf(out, "vesktest: %s\n", SummaryLine(summary).c_str());
    }
    std::fflush(out);
    if (!options.reportPath.empty())
        WriteReport(options.reportPath,
                    swept ? FormatSweepCsv(sweep, titles) : FormatCsv(final, titles), err);
    if (!options.htmlPath.empty()) {
        HtmlReport page;
        page.programTitle = options.programTitle;
        page.configPath = configPath;
        page.seconds = options.seconds;
        page.pairs = options.pairs;
        page.summary = summary;
        page.titles = titles;
        page.rows = final;
        if (swept) page.sweep = &sweep;
        if (options.log) {
            page.intervalSeconds = options.log->IntervalSeconds();
            page.samples = &options.log->Samples();
        }
        WriteReport(options.htmlPath, FormatHtmlReport(page), err);
    }
    if (options.log && !options.log->Problem().empty())
        std::fprintf(err, "vesktest: the log could not be written: %s\n",
                     options.log->Problem().c_str());
    return exitCode;
}
