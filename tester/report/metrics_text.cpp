#include "tester/report/metrics_text.h"

#include <cstdio>

#include "platform/name_table.h"
#include "tester/engine/port_worker.h"

namespace {

const char* const kCheckNames[kMetricChecks] = {"wiring", "delivery", "flow",       "break",
                                                "parity", "rate",     "modem lines"};
const char* const kResultNames[] = {"", "passed", "failed", "not supported", "not checked"};
constexpr MetricResult kKnownResults[] = {MetricResult::Passed, MetricResult::Failed,
                                          MetricResult::NotSupported, MetricResult::NotChecked};
constexpr RunOutcome kOutcomes[] = {RunOutcome::Pass, RunOutcome::Fail, RunOutcome::Error,
                                    RunOutcome::Aborted};
const char* const kLineErrorKindNames[kLineErrorKinds] = {"overrun", "framing", "parity", "break"};

MetricResult FromVerdict(LineVerdict verdict) {
    switch (verdict) {
        case LineVerdict::Passed:
            return MetricResult::Passed;
        case LineVerdict::Failed:
            return MetricResult::Failed;
        case LineVerdict::NotSupported:
            return MetricResult::NotSupported;
        case LineVerdict::NotChecked:
            break;
    }
    return MetricResult::NotChecked;
}

MetricResult FromRate(RateVerdict verdict) {
    switch (verdict) {
        case RateVerdict::NotChecked:
            return MetricResult::Unknown;
        case RateVerdict::Passed:
            return MetricResult::Passed;
        case RateVerdict::Slow:
        case RateVerdict::Fast:
            return MetricResult::Failed;
        case RateVerdict::HalfDuplex:
        case RateVerdict::NotPaced:
            return MetricResult::NotSupported;
        case RateVerdict::NotMeasured:
            break;
    }
    return MetricResult::NotChecked;
}

// As the verdict judges the wiring, and "not checked" for a port that,
// with nothing declared, heard no one: there was nothing to judge it by.
MetricResult WiringOf(const BatchRow& row) {
    if (!row.declared.empty())
        return row.source == row.declared ? MetricResult::Passed : MetricResult::Failed;
    if (row.source.empty()) return MetricResult::Unknown;
    if (row.source == "none") return MetricResult::NotChecked;
    return row.source.find('+') == std::string::npos ? MetricResult::Passed : MetricResult::Failed;
}

MetricResult DeliveryOf(const BatchRow& row) {
    const Delivery& d = row.delivery;
    if (!d.accounted) return MetricResult::Unknown;
    const bool whole =
        d.blocksArrived == d.blocksSent && d.bytesArrived == d.bytesSent && d.cutShort == 0;
    return whole ? MetricResult::Passed : MetricResult::Failed;
}

// The text of one sample line: name{labels} value.
class MetricsWriter {
  public:
    explicit MetricsWriter(std::string& out) : out_(out) {}

    void Family(const char* name, const char* type, const char* help) {
        out_ += "# HELP ";
        out_ += name;
        out_ += ' ';
        out_ += help;
        out_ += "\n# TYPE ";
        out_ += name;
        out_ += ' ';
        out_ += type;
        out_ += '\n';
    }

    // `labels` without braces; `extra` (another label, ",name=\"v\"") after
    // them.
    void Sample(const char* name, const std::string& labels, const std::string& extra,
                const char* value) {
        out_ += name;
        out_ += '{';
        out_ += labels;
        out_ += extra;
        out_ += "} ";
        out_ += value;
        out_ += '\n';
    }
    void Sample(const char* name, const std::string& labels, const std::string& extra,
                uint64_t value) {
        char text[24];
        std::snprintf(text, sizeof text, "%llu", static_cast<unsigned long long>(value));
        Sample(name, labels, extra, text);
    }

  private:
    std::string& out_;
};

std::string Label(const char* name, const std::string& value) {
    return std::string(",") + name + "=\"" + EscapeLabelValue(value) + "\"";
}

struct PortCounter {
    const char* name;
    const char* help;
    uint64_t (*value)(const PortMetrics&);
};

const PortCounter kCounters[] = {
    {"vesktest_port_received_bytes_total", "Bytes the port received (Rx#, first number).",
     [](const PortMetrics& p) { return p.values.bytesRead; }},
    {"vesktest_port_received_blocks_total",
     "Test blocks the port received whole and correct (Rx#, second number).",
     [](const PortMetrics& p) { return p.values.blocksOk; }},
    {"vesktest_port_sent_bytes_total", "Bytes the port sent (Tx#, first number).",
     [](const PortMetrics& p) { return p.values.bytesWritten; }},
    {"vesktest_port_sent_blocks_total", "Test blocks the port sent (Tx#, second number).",
     [](const PortMetrics& p) { return p.values.blocksWritten; }},
    {"vesktest_port_receive_errors_total",
     "Receive errors: failed reads, blocks out of place or with wrong data, half-duplex "
     "time-outs (Err#, first number).",
     [](const PortMetrics& p) { return uint64_t{p.values.rxErrors}; }},
    {"vesktest_port_send_errors_total",
     "Send errors: failed or short writes (Err#, second number).",
     [](const PortMetrics& p) { return uint64_t{p.values.txErrors}; }},
    {"vesktest_port_blocks_lost_total", "Test blocks whose sequence numbers never arrived.",
     [](const PortMetrics& p) { return uint64_t{p.values.blocksLost}; }},
    {"vesktest_port_lost_total",
     "Times the open port was lost (a device server gone, an adapter pulled).",
     [](const PortMetrics& p) { return uint64_t{p.values.drops}; }},
    {"vesktest_port_reconnects_total", "Times a lost port was opened again.",
     [](const PortMetrics& p) {
         const uint32_t drops = p.values.drops;
         return uint64_t{p.values.Down() && drops > 0 ? drops - 1 : drops};
     }},
};

}  // namespace

const char* MetricCheckName(MetricCheck check) {
    return plat::NameOf(check, kCheckNames);
}

const char* MetricResultName(MetricResult result) {
    return plat::NameOf(result, kResultNames);
}

PortChecks ChecksOfRow(const BatchRow& row) {
    PortChecks checks;
    if (!row.ready) return checks;
    checks[MetricCheck::Wiring] = WiringOf(row);
    checks[MetricCheck::Delivery] = DeliveryOf(row);
    const std::pair<MetricCheck, ConditionCheck> conditions[] = {
        {MetricCheck::Flow, ConditionCheck::Flow},
        {MetricCheck::Break, ConditionCheck::Break},
        {MetricCheck::Parity, ConditionCheck::Parity}};
    for (const auto& [metric, condition] : conditions) {
        const BatchConditionCheck& made = row.conditions.of(condition);
        if (made.checked) checks[metric] = FromVerdict(made.verdict);
    }
    checks[MetricCheck::Rate] = FromRate(row.rate.verdict);
    if (row.lines.checked) checks[MetricCheck::ModemLines] = FromVerdict(row.lines.verdict);
    return checks;
}

const char* const kPortStateLabels[kPortStates] = {
    "stopped", "reading", "writing", "both", "master", "slave", "lost", "opening", "not open"};

const char* PortStateLabel(const PortSnapshot& port) {
    switch (port.state) {
        case PortState::Opening:
            return "opening";
        case PortState::NotOpen:
        case PortState::NoBuffers:
            return "not open";
        case PortState::Down:
            return "lost";
        case PortState::Open:
            break;
    }
    if (port.rxRunning == 0 && port.txRunning == 0) return "stopped";
    if (port.mode == ModeMaster) return "master";
    if (port.mode != ModeDuplex) return "slave";
    if (port.rxRunning != 0 && port.txRunning != 0) return "both";
    return port.rxRunning != 0 ? "reading" : "writing";
}

RunOutcome OutcomeSoFar(const std::vector<PortMetrics>& ports) {
    bool failed = false;
    for (const PortMetrics& port : ports) {
        const PortSnapshot& v = port.values;
        if (v.state == PortState::NotOpen || v.state == PortState::NoBuffers)
            return RunOutcome::Error;
        if (v.Ready() && (v.rxErrors != 0 || v.txErrors != 0 || v.lineErrorCount != 0 ||
                          v.drops != 0 || v.blocksLost != 0 || v.settingsRefused != 0))
            failed = true;
        for (MetricResult result : port.checks.of)
            if (result == MetricResult::Failed) failed = true;
    }
    return failed ? RunOutcome::Fail : RunOutcome::Pass;
}

std::string EscapeLabelValue(const std::string& value) {
    std::string escaped;
    escaped.reserve(value.size());
    for (char c : value) {
        if (c == '\\' || c == '"') {
            escaped += '\\';
            escaped += c;
        } else if (c == '\n') {
            escaped += "\\n";
        } else {
            escaped += c;
        }
    }
    return escaped;
}

std::string FormatMetrics(const RunMetrics& run) {
    std::string out;
    out.reserve(512 + run.ports.size() * 6000);
    MetricsWriter w(out);
    const std::string runLabels =
        Label("station", run.labels.station).substr(1) + Label("unit", run.labels.unit);
    std::vector<std::string> portLabels;
    for (const PortMetrics& port : run.ports)
        portLabels.push_back(runLabels + Label("port", port.values.portName) +
                             Label("row", std::to_string(port.values.rowIndex + 1)));
    // Counters and the rate only for ports that opened: one that never did
    // has none to give.
    auto eachOpen = [&](auto visit) {
        for (size_t i = 0; i < run.ports.size(); ++i)
            if (run.ports[i].values.Ready()) visit(run.ports[i], portLabels[i]);
    };

    for (const PortCounter& counter : kCounters) {
        w.Family(counter.name, "counter", counter.help);
        eachOpen([&](const PortMetrics& p, const std::string& labels) {
            w.Sample(counter.name, labels, "", counter.value(p));
        });
    }
    const char* lineErrors = "vesktest_port_line_errors_total";
    w.Family(lineErrors, "counter",
             "Line-error reads (one a refresh, each clearing the port's errors) that found the "
             "kind: overrun, framing, parity, break.");
    eachOpen([&](const PortMetrics& p, const std::string& labels) {
        for (uint32_t kind = 0; kind < kLineErrorKinds; ++kind)
            w.Sample(lineErrors, labels, Label("kind", kLineErrorKindNames[kind]),
                     p.values.lineErrorsOfKind[kind]);
    });

    const char* rate = "vesktest_port_receive_rate_bytes_per_second";
    w.Family(rate, "gauge", "Bytes the port received per second over the last interval.");
    eachOpen([&](const PortMetrics& p, const std::string& labels) {
        w.Sample(rate, labels, "", p.rxRate);
    });
    const char* idle = "vesktest_port_receive_idle_seconds";
    w.Family(idle, "gauge",
             "Seconds since the port last received a byte, while a receiving direction runs "
             "(a reader, a slave, a master awaiting its echo); 0 otherwise.");
    eachOpen([&](const PortMetrics& p, const std::string& labels) {
        char text[32];
        std::snprintf(text, sizeof text, "%u.%03u", p.values.rxIdleMs / 1000,
                      p.values.rxIdleMs % 1000);
        w.Sample(idle, labels, "", text);
    });

    const char* state = "vesktest_port_state";
    w.Family(state, "gauge",
             "1 for the state the port is in, 0 for the others: stopped, reading, writing, both, "
             "master, slave, lost, opening, not open.");
    for (size_t i = 0; i < run.ports.size(); ++i) {
        const std::string now = PortStateLabel(run.ports[i].values);
        for (const char* label : kPortStateLabels)
            w.Sample(state, portLabels[i], Label("state", label), now == label ? 1 : 0);
    }

    const char* check = "vesktest_port_check";
    w.Family(check, "gauge",
             "1 for the result a check of the run gave the port, 0 for the others (passed, "
             "failed, not supported, not checked); a check appears once the run has made it.");
    for (size_t i = 0; i < run.ports.size(); ++i) {
        for (int c = 0; c < kMetricChecks; ++c) {
            const MetricResult result = run.ports[i].checks.of[c];
            if (result == MetricResult::Unknown) continue;
            const std::string which = Label("check", kCheckNames[c]);
            for (MetricResult value : kKnownResults)
                w.Sample(check, portLabels[i], which + Label("result", MetricResultName(value)),
                         result == value ? 1 : 0);
        }
    }

    const char* outcome = "vesktest_run_outcome";
    w.Family(outcome, "gauge",
             "1 for the run's outcome so far (at its end, the outcome), 0 for the others: PASS, "
             "FAIL, ERROR, ABORTED.");
    for (RunOutcome value : kOutcomes)
        w.Sample(outcome, runLabels, Label("outcome", RunOutcomeName(value)),
                 run.outcome == value ? 1 : 0);
    const char* running = "vesktest_run_running";
    w.Family(running, "gauge", "1 while the session runs, 0 once it has ended.");
    w.Sample(running, runLabels, "", run.running ? 1 : 0);
    const char* started = "vesktest_run_start_time_seconds";
    w.Family(started, "gauge", "When the session started, in seconds since the Unix epoch.");
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%lld.%03d",
                  static_cast<long long>(run.startedMs / 1000),
                  static_cast<int>(run.startedMs % 1000));
    w.Sample(started, runLabels, "", seconds);
    return out;
}
