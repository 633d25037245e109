#include "tester/batch/batch_run.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "platform/clock.h"
#include "tester/batch/batch_record.h"
#include "tester/batch/condition_check_run.h"
#include "tester/batch/delivery.h"
#include "tester/batch/line_check_run.h"
#include "tester/batch/rate_check.h"
#include "tester/batch/verdict.h"
#include "tester/batch/wiring_probe.h"
#include "tester/config/configuration.h"
#include "tester/engine/port_worker.h"
#include "tester/engine/worker_group.h"
#include "tester/report/condition_check_text.h"
#include "tester/report/final_table.h"
#include "tester/report/html_report.h"
#include "tester/report/interval_log.h"
#include "tester/report/metrics_file.h"
#include "tester/report/line_check_text.h"
#include "tester/report/output_file.h"
#include "tester/report/sweep_report.h"
#include "tester/session/port_commands.h"
#include "tester/session/refresh.h"
#include "tester/session/row_store.h"
#include "tester/session/tester_session.h"

namespace {

constexpr uint32_t kPollMs = 50;
// Once a direction is stopped its routine finishes what it is doing: a
// read or a write, or a master's last exchange (its reply time-out, which
// the drain waits for). The run waits this long at most for the receive
// routines after the receivers stop.
constexpr uint32_t kRoutineEndMs = 5000;

bool StopRequested(const BatchOptions& options) {
    return options.stopRequested && options.stopRequested();
}

// The line settings the operator asked for (the session's: the
// configuration's, or a sweep's speed): what the rate check, the probe and
// the stall limit go by.
DCB AskedLine(const PortSettings& s) {
    DCB dcb{};
    dcb.BaudRate = s.baudRate;
    dcb.ByteSize = static_cast<BYTE>(s.byteSize);
    dcb.Parity = static_cast<BYTE>(s.parity.load());
    dcb.StopBits = static_cast<BYTE>(s.stopBits.load());
    return dcb;
}

// Every row's worker snapshot, by row (a row without a worker: NotOpen).
std::vector<PortSnapshot> Snapshots(RowStore& rows) {
    std::vector<PortSnapshot> ports;
    for (const RowStore::RowView& view : rows.Snapshot()) {
        ports.push_back(view.worker ? view.worker->Snapshot() : PortSnapshot());
        if (!view.worker) ports.back().state = PortState::NotOpen;
    }
    return ports;
}

// What the run found on its ports, from here to the verdict.
struct Plan {
    TesterSession* session = nullptr;
    std::vector<PortWorker*> testing;  // by row: the workers in the test, null for the others
    std::vector<uint32_t> modes;       // by row, with --pairs
    Wiring wiring;                     // what the test goes by: learned, declared, or empty
    Wiring declared;                   // --wiring, to hold the learned one against
    bool probed = false;
    uint32_t stallMs = 0;
    // A stop request ended the wait for the ports to open: a port that had
    // not opened by then did not fail to, it was not tested.
    bool stoppedOpening = false;

    bool Testing(size_t row) const { return row < testing.size() && testing[row] != nullptr; }
    const PortSettings& Settings() const { return session->Settings(); }
};

// The rows as they are now: the cells, each worker's snapshot, and for a
// port that took no part in the test because it was not open in time, why.
std::vector<BatchRow> Collect(RowStore& rows, const Plan& plan) {
    std::vector<BatchRow> collected;
    const std::vector<RowStore::RowView> views = rows.Snapshot();
    for (size_t r = 0; r < views.size(); ++r) {
        const RowStore::RowView& view = views[r];
        BatchRow row;
        for (int c = 0; c < kPortListColumns; ++c)
            row.cells[c] = view.cells[c];
        if (view.worker) {
            row.values = view.worker->Snapshot();
            row.ready = row.values.Ready() && plan.Testing(r);
            row.openFailure = row.values.openFailure;
            const bool failed =
                row.values.state == PortState::NotOpen || row.values.state == PortState::NoBuffers;
            if (!row.ready && plan.stoppedOpening && !failed) {
                row.tested = false;
                row.openFailure = "still opening when the run was stopped";
            } else if (!row.ready && row.openFailure.empty() &&
                       row.values.state != PortState::NoBuffers) {
                row.openFailure =
                    "did not open within " + std::to_string(kOpenWaitMs / 1000) + " s";
            }
        } else {
            row.values.state = PortState::NotOpen;
        }
        if (plan.wiring.Size() > r) row.source = SourceText(plan.wiring, static_cast<int32_t>(r));
        if (plan.probed && plan.declared.Size() > r)
            row.declared = SourceText(plan.declared, static_cast<int32_t>(r));
        collected.push_back(std::move(row));
    }
    // Stopped while the ports were opening: a port whose worker had not yet
    // made its row was not tested either (not "no worker could be made").
    for (size_t r = 0; plan.stoppedOpening && r < configuration.portCount; ++r) {
        if (r < views.size() && views[r].worker) continue;
        if (r >= collected.size()) collected.emplace_back();
        BatchRow& row = collected[r];
        row.cells[kColumnNumber] = std::to_string(r + 1);
        row.cells[kColumnName] = configuration.portNames[r];
        row.values.state = PortState::Opening;
        row.tested = false;
        row.openFailure = "still opening when the run was stopped";
    }
    return collected;
}

// The rows now, while the refresh runs on: the line errors the ports hold
// are read first (as a refresh would), and the refreshed cells are made
// from the counters read, so that the table shows this moment and not the
// last tick.
std::vector<BatchRow> CollectNow(RowStore& rows, const Plan& plan) {
    for (PortWorker* worker : plan.testing) {
        if (!worker) continue;
        RefreshCommErrors(*worker);
        UpdateErrorKindText(*worker);
    }
    std::vector<BatchRow> collected = Collect(rows, plan);
    for (BatchRow& row : collected) {
        if (!row.ready) continue;
        const RowCells cells = FormatRowCells(row.values);
        for (int c = kFirstRefreshedColumn; c <= kColumnState; ++c)
            row.cells[c] = cells.text[c - kFirstRefreshedColumn];
    }
    return collected;
}

// Waits until every worker's port is open or has failed to open, or the
// bound has passed; the workers of the open ones, by row. The workers, not
// the rows: a worker's thread makes its row, which may not be there yet.
std::vector<PortWorker*> WaitForOpens(WorkerGroup& workers, const BatchOptions& options,
                                      bool& stopped) {
    const uint32_t start = plat::tickCount();
    for (;;) {
        bool settled = true;
        for (int32_t i = 0; i < workers.Count(); ++i)
            if (workers.At(i)->State() == PortState::Opening) settled = false;
        stopped = !settled && StopRequested(options);
        if (settled || stopped || plat::ticksBetween(start, plat::tickCount()) >= kOpenWaitMs)
            break;
        plat::sleepMs(kPollMs);
    }
    std::vector<PortWorker*> open;
    for (int32_t i = 0; i < workers.Count(); ++i) {
        PortWorker* worker = workers.At(i);
        const auto row = static_cast<size_t>(worker->rowIndex);
        if (open.size() <= row) open.resize(row + 1, nullptr);
        if (worker->Snapshot().Ready()) open[row] = worker;
    }
    return open;
}

// Selects exactly the rows `pick` takes, for the next port command.
template <typename Pick>
void Select(RowStore& rows, const Plan& plan, Pick pick) {
    for (int32_t r = 0; r < rows.RowCount(); ++r)
        rows.SetRowSelected(r,
                            plan.Testing(static_cast<size_t>(r)) && pick(static_cast<size_t>(r)));
}

void Command(RowStore& rows, const Plan& plan, PortCommand command) {
    Select(rows, plan, [](size_t) { return true; });
    RunPortCommand(rows, command);
}

// Half-duplex pairs: the wired pairs (the lower row the master), or
// without a known wiring rows 1 and 2, 3 and 4...; a port in no pair is a
// master (with a loop-back plug it gets its own blocks back).
std::vector<uint32_t> PairModes(const Plan& plan, size_t rows) {
    std::vector<uint32_t> modes(rows, ModeMaster);
    const bool known = plan.wiring.Size() == rows && !WiredPairs(plan.wiring).empty();
    if (!known) {
        // As z pairs them; a last odd row is a master without a slave.
        for (size_t r = 1; r < rows; r += 2)
            modes[r] = ModeSlave;
        return modes;
    }
    for (const auto& [a, b] : WiredPairs(plan.wiring))
        if (a != b) modes[static_cast<size_t>(b)] = ModeSlave;
    return modes;
}

// Every stopped receive routine has let go (its last read returned, a
// slave's last echo went out), or the bound has passed: what they counted
// is then all there is.
void AwaitReceivers(RowStore& rows, uint32_t boundMs) {
    const uint32_t start = plat::tickCount();
    while (plat::ticksBetween(start, plat::tickCount()) < boundMs) {
        bool busy = false;
        for (const PortSnapshot& port : Snapshots(rows))
            if (port.rxBusy && !port.rxRunning) busy = true;
        if (!busy) return;
        plat::sleepMs(kPollMs);
    }
}

// Waits until nothing has arrived on any port for kQuietMs and every
// stopped master has finished its last exchange, or gives up at
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
        const std::vector<PortSnapshot> ports = Snapshots(rows);
        seen.resize(ports.size(), Seen{0, start});
        for (size_t r = 0; r < ports.size(); ++r) {
            if (!ports[r].Ready()) continue;
            // A stopped master still waits for its last echo; a stopped
            // writer still blocked in a write (a line held off) is no
            // data on its way, and the shut-down ends its write.
            const bool finishing =
                ports[r].mode == ModeMaster && ports[r].txBusy && !ports[r].txRunning;
            if (ports[r].bytesRead != seen[r].bytes || finishing) {
                seen[r] = Seen{ports[r].bytesRead, now};
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

// One test of the open ports and what it found beside the counters.
struct TestPass {
    DrainOutcome drain;
    RateWindow rates;
    std::vector<std::vector<Stall>> stalls;
    uint32_t logOffsetMs = 0;  // the interval log's time at the test's start
    bool started = false;      // the test directions were started
    uint64_t ranMs = 0;        // how long they ran before the senders stopped
    bool cut = false;          // a stop request ended them before their time
};

// Runs the test for its time, watching for stalls; with `rates`, opens the
// rate check's window once the lines have settled and closes it as the
// time is up. How long it ran, and whether a stop request cut it short,
// into `pass`.
void RunFor(RowStore& rows, const BatchOptions& options, const Plan& plan, std::FILE* out,
            RateWindow* rates, StallMonitor& stalls, TestPass& pass) {
    const uint32_t start = plat::tickCount();
    const uint32_t total = options.seconds * 1000u;
    uint32_t nextProgress = kProgressEveryMs;
    for (;;) {
        if (options.log) options.log->Poll(rows);
        const uint32_t spent = plat::ticksBetween(start, plat::tickCount());
        const std::vector<PortSnapshot> ports = Snapshots(rows);
        stalls.Poll(ports, spent);
        if (spent >= total || StopRequested(options)) {
            if (rates) rates->Close(rows, AskedLine(plan.Settings()));
            stalls.Finish(spent);
            pass.ranMs = spent < total ? spent : total;
            pass.cut = spent < total;
            return;
        }
        if (rates && !rates->IsOpen() && spent >= kRateSettleMs) rates->Open(rows);
        if (options.progress && spent >= nextProgress) {
            std::vector<BatchRow> now;
            for (const PortSnapshot& port : ports) {
                now.emplace_back();
                now.back().ready = port.Ready();
                now.back().values = port;
            }
            std::fprintf(out, "vesktest: %s\n",
                         ProgressLine(spent / 1000, options.seconds, now).c_str());
            std::fflush(out);
            nextProgress += kProgressEveryMs;
        }
        uint32_t left = total - spent;
        // The window opens on time, not up to a poll late.
        if (rates && !rates->IsOpen() && kRateSettleMs - spent < left) left = kRateSettleMs - spent;
        plat::sleepMs(left < kPollMs * 4 ? left : kPollMs * 4);
    }
}

// One test of the ports in the plan: started (half-duplex pairs or full
// duplex), run for its time, then the senders stopped first and the
// receivers let go on until the line is quiet, so that every block sent is
// a block received; then the receivers stopped.
TestPass RunTest(RowStore& rows, const BatchOptions& options, const Plan& plan, std::FILE* out) {
    TestPass pass;
    // Stopped before it began (while the ports opened, the wiring was
    // learned or the lines checked): nothing is started, the ports are
    // not tested.
    if (StopRequested(options)) return pass;
    if (options.pairs) {
        Select(rows, plan, [&](size_t r) { return plan.modes[r] == ModeMaster; });
        RunPortCommand(rows, PortCommand::HdMaster);
        Select(rows, plan, [&](size_t r) { return plan.modes[r] == ModeSlave; });
        RunPortCommand(rows, PortCommand::HdSlave);
    }
    StallMonitor stalls(plan.stallMs);
    pass.logOffsetMs = options.log ? options.log->ElapsedMs() : 0;
    Command(rows, plan, PortCommand::StartStop);
    pass.started = true;
    RunFor(rows, options, plan, out, options.checkRate ? &pass.rates : nullptr, stalls, pass);
    pass.stalls = stalls.Stalls();

    if (options.pairs) {
        Select(rows, plan, [&](size_t r) { return plan.modes[r] == ModeMaster; });
        RunPortCommand(rows, PortCommand::StartStop);
        pass.drain = Drain(rows, options.drainLimitMs, options.log);
        Select(rows, plan, [&](size_t r) { return plan.modes[r] == ModeSlave; });
        RunPortCommand(rows, PortCommand::StartStop);
    } else {
        Command(rows, plan, PortCommand::Write);
        pass.drain = Drain(rows, options.drainLimitMs, options.log);
        Command(rows, plan, PortCommand::Read);
    }
    AwaitReceivers(rows, kRoutineEndMs);
    return pass;
}

// What a test found beside the counters, onto its rows: the rate check,
// the stalls, the delivery.
void Attach(std::vector<BatchRow>& rows, const TestPass& pass, const Plan& plan, bool checkRate) {
    const std::vector<RateCheck>& checks = pass.rates.Checks();
    for (size_t r = 0; r < rows.size(); ++r) {
        if (checkRate && r < checks.size()) rows[r].rate = checks[r];
        if (r < pass.stalls.size() && rows[r].ready) rows[r].stalls = pass.stalls[r];
    }
    AccountDelivery(rows, plan.wiring);
}

// The speed on every port in the test, as the settings form's OK puts the
// settings on the selected rows: both directions stopped, the counters
// zeroed.
void PutSpeedOnEveryPort(RowStore& rows, const Plan& plan, uint32_t baudRate) {
    PortSettings settings = plan.Settings();
    settings.baudRate = baudRate;
    plan.session->ChangeSettings(settings);
    Command(rows, plan, PortCommand::ApplySettings);
}

// The test at each speed in turn, each speed's table and verdict line
// written as it ends. A stop request ends the sweep after the speed it
// cut short; that speed says so. How long the speeds' tests ran in all,
// and whether the last one started, into `ran`.
std::vector<SweepStep> RunSweep(RowStore& rows, const BatchOptions& options, Plan& plan,
                                const std::vector<std::string>& titles, std::FILE* out,
                                TestPass& ran) {
    std::vector<SweepStep> steps;
    for (uint32_t baudRate : options.sweepRates) {
        if (StopRequested(options)) break;
        PutSpeedOnEveryPort(rows, plan, baudRate);
        if (options.stallMs == 0)
            plan.stallMs =
                DefaultStallLimitMs(AskedLine(plan.Settings()), plan.Settings().blockSize);
        const TestPass pass = RunTest(rows, options, plan, out);
        ran.started = pass.started;
        ran.ranMs += pass.ranMs;
        SweepStep step;
        step.baudRate = baudRate;
        step.rows = CollectNow(rows, plan);
        Attach(step.rows, pass, plan, true);
        const bool cut = !pass.started || pass.cut;
        if (cut) MarkUntested(step.rows, pass.started, pass.ranMs, plan.stallMs);
        step.summary = Summarise(step.rows, configuration.portCount, pass.drain);
        if (cut) MarkAborted(step.summary, pass.ranMs, options.seconds * 1000ull);
        std::fprintf(out, "vesktest: %u bit/s:\n%s", baudRate,
                     FormatTable(step.rows, titles).c_str());
        std::fprintf(out, "vesktest: %s\n", SweepStepLine(step).c_str());
        std::fflush(out);
        steps.push_back(std::move(step));
        if (cut) break;
    }
    return steps;
}

std::vector<std::string> ColumnTitles() {
    std::vector<std::string> titles;
    for (const ColumnDescriptor& column : configuration.columns)
        titles.push_back(column.title ? column.title : "");
    return titles;
}

// The wiring the test goes by: learned by the probe (and printed), or
// declared, or none. False, with the reason on `err`, for a declaration
// that does not fit the configured ports.
bool LearnWiring(const BatchOptions& options, Plan& plan, std::FILE* out, std::FILE* err) {
    const size_t rows = plan.testing.size();
    std::string why;
    if (!DeclaredWiring(options.wiring, rows, plan.declared, why)) {
        std::fprintf(err, "vesktest: %s\n", why.c_str());
        return false;
    }
    if (!options.probe) {
        if (options.wiring.kind != WiringDeclaration::None) plan.wiring = plan.declared;
        return true;
    }
    const auto start = std::chrono::steady_clock::now();
    plan.wiring = RunWiringProbe(plan.testing, ProbeTimingFor(AskedLine(plan.Settings())),
                                 DrawProbeNonce(), options.stopRequested);
    plan.probed = true;
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::fprintf(out, "vesktest: wiring: %s (probed in %.1f s)\n", WiringLine(plan.wiring).c_str(),
                 seconds);
    std::fflush(out);
    return true;
}

// The modem-line check's jobs: the wired pairs and plugs when the wiring
// is known, else rows 1 and 2, 3 and 4...
std::vector<LineCheckJob> LineCheckJobs(const Plan& plan) {
    if (plan.wiring.Size() == 0) {
        std::vector<PortWorker*> all;
        for (PortWorker* worker : plan.testing)
            if (worker) all.push_back(worker);
        return PairForLineCheck(all);
    }
    std::vector<LineCheckJob> jobs;
    for (const auto& [a, b] : WiredPairs(plan.wiring))
        if (plan.Testing(static_cast<size_t>(a)) && plan.Testing(static_cast<size_t>(b)))
            jobs.push_back({plan.testing[a], plan.testing[b]});
    return jobs;
}

// Writes `text` whole to `path` (output_file.h). False, after saying why on
// `err`, when it cannot.
bool WriteOutputFile(const std::string& path, const char* what, const std::string& text,
                     std::FILE* err) {
    std::string why;
    if (WriteFileWhole(path, text, "part", why)) return true;
    std::fprintf(err, "vesktest: cannot write %s '%s': %s\n", what, path.c_str(), why.c_str());
    return false;
}

// Writes the reports the options ask for. False when any could not be
// written (each says why on `err`).
bool WriteOutputs(const BatchOptions& options, const std::vector<BatchRow>& final,
                  const BatchSummary& summary, const std::vector<SweepStep>& sweep,
                  const std::string& wiringLine, uint32_t logOffsetMs, std::FILE* err) {
    const std::vector<std::string> titles = ColumnTitles();
    const bool swept = !options.sweepRates.empty();
    bool ok = true;
    if (!options.reportPath.empty())
        ok &=
            WriteOutputFile(options.reportPath, "the report",
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
        page.tags = options.outputs.tags;
        page.wiring = wiringLine;
        page.testStartMs = logOffsetMs;
        if (swept) page.sweep = &sweep;
        if (options.log) {
            page.intervalSeconds = options.log->IntervalSeconds();
            page.samples = &options.log->Samples();
        }
        ok &= WriteOutputFile(options.htmlPath, "the page", FormatHtmlReport(page), err);
    }
    if (options.log && !options.log->Problem().empty()) {
        std::fprintf(err, "vesktest: the log could not be written: %s\n",
                     options.log->Problem().c_str());
        ok = false;
    }
    return ok;
}

// The checks of flow control, breaks and parity asked for, in that order.
std::vector<ConditionCheck> ConditionChecksOf(const BatchOptions& options) {
    std::vector<ConditionCheck> checks;
    if (options.checkFlow) checks.push_back(ConditionCheck::Flow);
    if (options.checkBreak) checks.push_back(ConditionCheck::Break);
    if (options.checkParity) checks.push_back(ConditionCheck::Parity);
    return checks;
}

// The results of the checks made so far, for the metrics: the rows as they
// are now with what the checks found attached.
void PublishChecks(const BatchOptions& options, RowStore& rows, const Plan& plan,
                   const std::vector<BatchLineCheck>& lineChecks,
                   const std::vector<BatchConditions>& conditions,
                   const std::vector<ConditionCheck>& conditionChecks) {
    if (!options.metrics) return;
    std::vector<BatchRow> now = Collect(rows, plan);
    if (!lineChecks.empty()) AttachLineChecks(now, lineChecks);
    if (!conditions.empty()) AttachConditionChecks(now, conditions, conditionChecks);
    std::vector<PortChecks> checks;
    for (const BatchRow& row : now)
        checks.push_back(ChecksOfRow(row));
    options.metrics->SetChecks(std::move(checks));
}

// The metrics' last file: the final rows with every check's result (in a
// sweep, the last speed's, or a speed's that failed), and the run's
// outcome as the records give it.
void FinishMetrics(const BatchOptions& options, const std::vector<BatchRow>& final,
                   const std::vector<SweepStep>& sweep, int exitCode) {
    if (!options.metrics) return;
    std::vector<PortChecks> checks;
    std::vector<PortSnapshot> ports;
    for (const BatchRow& row : final) {
        checks.push_back(ChecksOfRow(row));
        ports.push_back(row.values);
    }
    for (const SweepStep& step : sweep) {
        for (size_t r = 0; r < step.rows.size() && r < checks.size(); ++r) {
            const PortChecks at = ChecksOfRow(step.rows[r]);
            for (int c = 0; c < kMetricChecks; ++c)
                if (at.of[c] != MetricResult::Unknown && checks[r].of[c] != MetricResult::Failed)
                    checks[r].of[c] = at.of[c];
        }
    }
    options.metrics->SetChecks(std::move(checks));
    RunOutcome outcome = exitCode == kBatchPassed      ? RunOutcome::Pass
                         : exitCode == kBatchNotOpened ? RunOutcome::Error
                                                       : RunOutcome::Fail;
    if (StopRequested(options)) outcome = RunOutcome::Aborted;
    options.metrics->Finish(ports, outcome);
}

// Prints the final table (or, for a sweep, what follows the speeds'
// tables) and the verdict lines; returns the run's exit code before the
// outputs are written.
int PrintVerdict(const BatchOptions& options, const std::vector<BatchRow>& final,
                 const BatchSummary& summary, const std::vector<SweepStep>& sweep,
                 const std::vector<ConditionCheck>& conditionChecks, std::FILE* out) {
    int exitCode = summary.exitCode;
    if (!options.sweepRates.empty()) {
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
        std::fprintf(out, "vesktest: %s\n", SweepSummaryLine(sweep, summary.abort).c_str());
    } else {
        std::fputs(FormatTable(final, ColumnTitles()).c_str(), out);
        if (options.lines) std::fprintf(out, "vesktest: %s\n", LinesVerdictLine(final).c_str());
        for (ConditionCheck check : conditionChecks)
            std::fprintf(out, "vesktest: %s\n", ConditionVerdictLine(final, check).c_str());
        std::fprintf(out, "vesktest: %s\n", SummaryLine(summary).c_str());
    }
    return summary.abort.aborted ? kBatchAborted : exitCode;
}

}  // namespace

int RunBatch(const BatchOptions& options, std::FILE* out, std::FILE* err) {
    const int64_t startedMs = UnixMsNow();
    // The rows outlive the run when a worker's thread outlives the
    // shut-down: such a thread may still write its row.
    auto rows = std::make_unique<RowStore>();
    std::vector<BatchRow> final;
    std::vector<BatchLineCheck> lineChecks;
    const std::vector<ConditionCheck> conditionChecks = ConditionChecksOf(options);
    std::vector<BatchConditions> conditions;
    std::vector<SweepStep> sweep;
    Plan plan;
    TestPass pass;
    {
        TesterSession session(*rows);
        plan.session = &session;
        session.SetNoticeHandler([err](const Notice& notice) {
            std::fprintf(err, "vesktest: %s\n", notice.text.c_str());
        });
        if (options.metrics) {
            options.metrics->SetProblemHandler([err](const std::string& text) {
                std::fprintf(err, "vesktest: %s\n", text.c_str());
            });
            // The run's end writes the last file itself, with its verdict.
            session.SetRefreshObserver(
                [&options](const std::vector<PortSnapshot>& ports, bool last) {
                    if (!last) options.metrics->Sample(ports);
                });
        }
        session.LoadConfiguration();
        if (!session.Start()) {
            std::fprintf(err, "vesktest: cannot start the test engine\n");
            return kBatchNotOpened;
        }
        plan.testing = WaitForOpens(session.Workers(), options, plan.stoppedOpening);
        // The wiring and the lines while the ports are still quiet: a line
        // whose flow control is paused for the check cannot then cost the
        // test data.
        if (!LearnWiring(options, plan, out, err)) {
            if (options.metrics) options.metrics->Finish(Snapshots(*rows));
            session.Stop();
            if (session.RowsInUse()) (void)rows.release();
            return kBatchUsage;
        }
        PublishChecks(options, *rows, plan, lineChecks, conditions, conditionChecks);
        if (options.lines)
            lineChecks =
                RunLineCheckJobs(LineCheckJobs(plan), LineCheckTiming(), options.stopRequested);
        plan.modes = PairModes(plan, plan.testing.size());
        plan.stallMs = options.stallMs != 0 ? options.stallMs
                                            : DefaultStallLimitMs(AskedLine(plan.Settings()),
                                                                  plan.Settings().blockSize);
        // So are the checks of flow control, breaks and parity, on the
        // wired pairs, which leave the ports drained and their counters
        // zeroed for the test.
        if (!conditionChecks.empty())
            conditions = RunBatchConditionChecks(LineCheckJobs(plan), conditionChecks,
                                                 ConditionTiming(), options.stopRequested);
        PublishChecks(options, *rows, plan, lineChecks, conditions, conditionChecks);

        if (options.sweepRates.empty()) {
            pass = RunTest(*rows, options, plan, out);
        } else {
            BatchOptions checked = options;
            checked.checkRate = true;
            sweep = RunSweep(*rows, checked, plan, ColumnTitles(), out, pass);
        }
        session.Stop([&] {
            final = Collect(*rows, plan);
            if (options.log) options.log->Final(*rows);
        });
        if (session.RowsInUse()) (void)rows.release();
    }

    const bool swept = !options.sweepRates.empty();
    if (!swept) Attach(final, pass, plan, options.checkRate);
    if (options.lines) AttachLineChecks(final, lineChecks);
    if (!conditionChecks.empty()) AttachConditionChecks(final, conditions, conditionChecks);
    // Stopped before the test time was up (the drain that follows it is
    // no part of the time asked for): aborted, whatever was found.
    const uint64_t plannedMs =
        options.seconds * 1000ull * (swept ? options.sweepRates.size() : size_t{1});
    const bool aborted = StopRequested(options) && pass.ranMs < plannedMs;
    if (aborted && swept && !sweep.empty()) {
        // The rows as the last speed ended: untested where it left them so.
        for (size_t r = 0; r < final.size() && r < sweep.back().rows.size(); ++r)
            final[r].tested = sweep.back().rows[r].tested;
    } else if (aborted) {
        MarkUntested(final, pass.started, pass.ranMs, plan.stallMs);
    }
    BatchSummary summary = Summarise(final, configuration.portCount, pass.drain);
    if (aborted) MarkAborted(summary, pass.ranMs, plannedMs);
    int exitCode = PrintVerdict(options, final, summary, sweep, conditionChecks, out);
    std::fflush(out);
    FinishMetrics(options, final, sweep, exitCode);
    const std::string wiringLine = plan.wiring.Size() != 0 ? WiringLine(plan.wiring) : "";
    if (!WriteOutputs(options, final, summary, sweep, wiringLine, pass.logOffsetMs, err))
        exitCode = kBatchOutputFailed;
    if (options.outputs.Wanted())
        exitCode = KeepRunRecord(options, startedMs, final, summary, sweep, exitCode, err);
    return exitCode;
}
