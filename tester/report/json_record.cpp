#include "tester/report/json_record.h"

#include "tester/config/configuration.h"
#include "tester/engine/port_worker.h"
#include "tester/session/row_texts.h"

namespace {

const char* ModeName(uint32_t mode) {
    return mode == ModeMaster ? "master" : mode == ModeSlave ? "slave" : "duplex";
}

double Seconds(uint64_t ms) {
    return static_cast<double>(ms) / 1000.0;
}

double Milliseconds(uint64_t us) {
    return static_cast<double>(us) / 1000.0;
}

// Each check writes its own member of "checks", or nothing when it did
// not run on the port. A new check is one more function in kChecks.
using CheckWriter = void (*)(JsonWriter&, const BatchRow&, const RunSettings&);

void WiringCheck(JsonWriter& w, const BatchRow& row, const RunSettings&) {
    if (row.source.empty() && row.declared.empty()) return;
    w.BeginObject("wiring");
    w.String("hears", row.source);
    if (!row.declared.empty()) w.String("declared", row.declared);
    w.EndObject();
}

void DeliveryCheck(JsonWriter& w, const BatchRow& row, const RunSettings&) {
    const Delivery& d = row.delivery;
    if (!d.accounted) return;
    w.BeginObject("delivery");
    w.Integer("source", d.source + 1);
    w.Unsigned("blocks_sent", d.blocksSent);
    w.Unsigned("blocks_arrived", d.blocksArrived);
    w.Measure("bytes_sent", d.bytesSent, "B");
    w.Measure("bytes_arrived", d.bytesArrived, "B");
    w.Measure("cut_short", uint64_t{d.cutShort}, "B");
    w.EndObject();
}

void StallCheck(JsonWriter& w, const BatchRow& row, const RunSettings&) {
    if (row.stalls.empty()) return;
    w.BeginArray("stalls");
    for (const Stall& stall : row.stalls) {
        w.BeginObject();
        w.Measure("from", Seconds(stall.fromMs), 3, "s");
        w.Measure("for", Seconds(stall.forMs), 3, "s");
        w.EndObject();
    }
    w.EndArray();
}

void ModemLineCheck(JsonWriter& w, const BatchRow& row, const RunSettings&) {
    const BatchLineCheck& c = row.lines;
    if (!c.checked) return;
    w.BeginObject("modem_lines");
    w.String("outcome", c.verdict == LineVerdict::Passed   ? "PASS"
                        : c.verdict == LineVerdict::Failed ? "FAIL"
                                                           : "NOT_JUDGED");
    w.String("result", LineVerdictName(c.verdict));
    w.String("lines", c.text);
    w.String("far_end", c.farEnd);
    w.EndObject();
}

void RateCheckJson(JsonWriter& w, const BatchRow& row, const RunSettings& settings) {
    const RateCheck& r = row.rate;
    if (r.verdict == RateVerdict::NotChecked) return;
    const bool judged = r.verdict == RateVerdict::Passed || r.verdict == RateVerdict::Slow ||
                        r.verdict == RateVerdict::Fast;
    w.BeginObject("rate");
    w.String("outcome", !judged                            ? "NOT_JUDGED"
                        : r.verdict == RateVerdict::Passed ? "PASS"
                                                           : "FAIL");
    w.String("result", RateVerdictText(r.verdict));
    w.Measure("baud_rate", uint64_t{r.baud}, "bit/s");
    if (r.expected > 0) w.Measure("expected", r.expected, 1, "B/s");
    if (r.Measured()) {
        w.Measure("measured", r.measured, 1, "B/s");
        w.Decimal("ratio", r.ratio, 4);
    }
    if (r.expected > 0) {
        w.BeginObject("limits");
        w.Measure("low", r.expected * (1 - settings.rateTolerance), 1, "B/s");
        w.Measure("high", r.expected * (1 + settings.rateTolerance), 1, "B/s");
        w.Measure("tolerance", settings.rateTolerance * 100, 1, "%");
        w.Measure("not_paced_above", r.expected * settings.notPacedRatio, 1, "B/s");
        w.EndObject();
    }
    w.EndObject();
}

void RoundTripCheck(JsonWriter& w, const BatchRow& row, const RunSettings&) {
    const LatencySummary& t = row.values.roundTrips;
    if (!row.ready || row.values.mode != ModeMaster || t.count == 0) return;
    w.BeginObject("round_trips");
    w.Unsigned("count", t.count);
    w.Measure("min", Milliseconds(t.minUs), 3, "ms");
    w.Measure("p50", Milliseconds(t.p50Us), 3, "ms");
    w.Measure("p99", Milliseconds(t.p99Us), 3, "ms");
    w.Measure("max", Milliseconds(t.maxUs), 3, "ms");
    w.EndObject();
}

const CheckWriter kChecks[] = {WiringCheck,    DeliveryCheck, StallCheck,
                               ModemLineCheck, RateCheckJson, RoundTripCheck};

void WriteChecks(JsonWriter& w, const char* key, const BatchRow& row, const RunSettings& s) {
    w.BeginObject(key);
    for (CheckWriter check : kChecks)
        check(w, row, s);
    w.EndObject();
}

void WriteCounters(JsonWriter& w, const PortSnapshot& v) {
    w.BeginObject("counters");
    w.Measure("rx_bytes", v.bytesRead, "B");
    w.Unsigned("rx_blocks", v.blocksOk);
    w.Measure("tx_bytes", v.bytesWritten, "B");
    w.Unsigned("tx_blocks", v.blocksWritten);
    w.Measure("rate", uint64_t{v.rate}, "B/s");
    w.Unsigned("rx_errors", v.rxErrors);
    w.Unsigned("tx_errors", v.txErrors);
    w.String("last_line_errors", v.commErrorText);
    w.String("error_kind", v.lastErrorKindText);
    w.Unsigned("os_error", v.lastOsError);
    w.Unsigned("line_error_reads", v.lineErrorCount);
    w.String("line_errors_seen", FormatCommErrors(v.lineErrorBits));
    w.Unsigned("drops", v.drops);
    w.Unsigned("blocks_lost", v.blocksLost);
    w.Measure("elapsed", Seconds(v.elapsedMs), 3, "s");
    w.EndObject();
}

void WritePort(JsonWriter& w, const BatchRow& row, size_t index, const RunSettings& s) {
    const PortSnapshot& v = row.values;
    w.BeginObject();
    w.Unsigned("index", index + 1);
    w.String("name", row.cells[kColumnName]);
    w.String("kind", row.ready ? DeviceKindName(v.kind) : "");
    w.String("outcome", PortVerdictName(PortVerdictOf(row)));
    w.String("result", PortOutcomeName(row.outcome));
    w.Strings("reasons", row.problems);
    if (!row.ready) {
        // Still opening when the run was stopped: not tested, not failed.
        w.String("state", row.tested ? "not open" : "opening");
        w.String("open_failure",
                 row.openFailure.empty() ? row.cells[kColumnErrDesc] : row.openFailure);
        w.EndObject();
        return;
    }
    w.String("state", PortStateName(v.state));
    w.BeginObject("settings");
    w.String("mode", ModeName(v.mode));
    w.Measure("baud_rate", uint64_t{v.baudAsked}, "bit/s");
    w.Measure("baud_set", uint64_t{v.baudSet}, "bit/s");
    w.String("frame", FrameText(s.byteSize, s.parity, s.stopBits));
    w.Measure("block_size", uint64_t{v.blockSize}, "B");
    if (v.settingsRefused != 0) {
        w.Unsigned("refused", v.settingsRefused);
        w.String("refused_text", v.settingsRefusedText);
    }
    w.EndObject();
    WriteCounters(w, v);
    WriteChecks(w, "checks", row, s);
    w.EndObject();
}

void WritePorts(JsonWriter& w, const std::vector<BatchRow>& rows, const RunSettings& s) {
    w.BeginArray("ports");
    for (size_t i = 0; i < rows.size(); ++i)
        WritePort(w, rows[i], i, s);
    w.EndArray();
}

void WriteSettings(JsonWriter& w, const char* key, const RunSettings& s) {
    w.BeginObject(key);
    w.String("configuration", s.configPath);
    w.String("mode", s.pairs ? "half-duplex pairs" : "full duplex");
    w.Measure("test_time", uint64_t{s.seconds}, "s");
    w.Measure("drain_limit", uint64_t{s.drainLimitSeconds}, "s");
    w.Measure("baud_rate", uint64_t{s.baudRate}, "bit/s");
    w.Unsigned("data_bits", s.byteSize);
    w.String("parity", NameOf(ParityNames, s.parity));
    w.String("stop_bits", NameOf(StopBitsNames, s.stopBits));
    w.String("flow_control", NameOf(FlowControlNames, s.flowControl));
    w.String("frame", FrameText(s.byteSize, s.parity, s.stopBits));
    w.Measure("block_size", uint64_t{s.blockSize}, "B");
    w.Bool("modem_lines_check", s.lines);
    w.Bool("rate_check", s.checkRate || !s.sweepRates.empty());
    w.BeginArray("sweep");
    for (uint32_t rate : s.sweepRates)
        w.Unsigned(nullptr, rate);
    w.EndArray();
    w.EndObject();
}

void WriteSweep(JsonWriter& w, const RunRecord& r) {
    w.BeginArray("sweep");
    for (const SweepStep& step : r.steps) {
        w.BeginObject();
        w.Measure("baud_rate", uint64_t{step.baudRate}, "bit/s");
        w.String("outcome", step.summary.abort.aborted                 ? "ABORTED"
                            : step.summary.exitCode == kBatchPassed    ? "PASS"
                            : step.summary.exitCode == kBatchNotOpened ? "ERROR"
                                                                       : "FAIL");
        w.String("summary", SweepStepLine(step));
        w.Strings("reasons", step.summary.reasons);
        WritePorts(w, step.rows, r.settings);
        w.EndObject();
    }
    w.EndArray();
}

}  // namespace

std::string FormatJsonRecord(const RunRecord& r) {
    JsonWriter w;
    w.BeginObject();
    w.Integer("schema_version", kJsonSchemaVersion);
    w.BeginObject("tool");
    w.String("name", r.tool);
    w.String("version", r.version);
    w.String("title", r.programTitle);
    w.EndObject();

    w.BeginObject("run");
    w.String("id", r.runId);
    w.String("started", Rfc3339Utc(r.startedMs));
    w.String("ended", Rfc3339Utc(r.endedMs));
    w.Measure("duration", Seconds(static_cast<uint64_t>(r.endedMs - r.startedMs)), 3, "s");
    // How long the test directions ran (every speed of a sweep together):
    // the test time asked for, or less when the run was stopped.
    w.Measure("test_ran", Seconds(r.testRanMs), 3, "s");
    w.String("unit", r.tags.unit);
    w.String("station", r.tags.station);
    w.String("operator", r.tags.operatorName);
    w.String("command_line", r.commandLine);
    WriteSettings(w, "settings", r.settings);
    w.String("wiring", r.wiring);
    w.String("outcome", RunOutcomeName(r.outcome));
    w.Integer("exit_code", r.exitCode);
    w.String("summary", r.summaryLine);
    w.Strings("reasons", r.summary.reasons);
    w.BeginObject("ports");
    w.Unsigned("configured", r.summary.configured);
    w.Unsigned("opened", r.summary.opened);
    w.Unsigned("not_opened", r.summary.notOpened);
    w.Unsigned("failing", r.summary.failing);
    w.Unsigned("not_tested", r.summary.notTested);
    w.BeginArray("not_paced");
    for (int32_t row : r.summary.notPaced)
        w.Integer(nullptr, row + 1);
    w.EndArray();
    w.EndObject();
    if (!r.database.empty()) {
        w.BeginObject("history");
        w.String("database", r.database);
        w.Bool("stored", r.databaseStored);
        if (!r.databaseError.empty()) w.String("error", r.databaseError);
        w.EndObject();
    }
    w.EndObject();

    WritePorts(w, r.rows, r.settings);
    if (!r.steps.empty()) WriteSweep(w, r);
    w.EndObject();
    return w.Text();
}

std::string PortChecksJson(const BatchRow& row, const RunSettings& settings) {
    JsonWriter w;
    WriteChecks(w, nullptr, row, settings);
    std::string text = w.Text();
    text.pop_back();  // the document's line end
    return text;
}

std::string RunSettingsJson(const RunSettings& settings) {
    JsonWriter w;
    WriteSettings(w, nullptr, settings);
    std::string text = w.Text();
    text.pop_back();
    return text;
}
