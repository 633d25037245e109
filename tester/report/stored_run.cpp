#include "tester/report/stored_run.h"

#include <cstdint>

#include "tester/report/json_reader.h"
#include "tester/report/json_record.h"
#include "tester/report/run_record.h"

namespace {

using Kind = JsonValue::Kind;

// A count or a measure's value ({"value": 7, "unit": "B"}) as an unsigned
// integer; 0 for anything else (a member an earlier record lacks).
uint64_t Unsigned(const JsonValue& v) {
    const JsonValue& n = v.kind == Kind::Object ? v["value"] : v;
    if (n.kind != Kind::Number || n.text.empty() || n.text[0] == '-') return 0;
    uint64_t value = 0;
    for (char c : n.text) {
        if (c < '0' || c > '9') break;
        value = value * 10 + static_cast<uint64_t>(c - '0');
    }
    return value;
}

// A measure in seconds ("2.512") as whole milliseconds, read from its
// digits rather than through a double, so that 2.512 is 2512.
uint64_t Milliseconds(const JsonValue& v) {
    const JsonValue& n = v.kind == Kind::Object ? v["value"] : v;
    if (n.kind != Kind::Number || n.text.empty() || n.text[0] == '-') return 0;
    uint64_t ms = 0;
    int fraction = -1;  // digits after the point so far; -1 before it
    for (char c : n.text) {
        if (c == '.') {
            fraction = 0;
            continue;
        }
        if (c < '0' || c > '9') break;
        if (fraction >= 3) continue;
        ms = ms * 10 + static_cast<uint64_t>(c - '0');
        if (fraction >= 0) ++fraction;
    }
    for (int i = fraction < 0 ? 0 : fraction; i < 3; ++i)
        ms *= 10;
    return ms;
}

std::string Text(uint64_t value) {
    return std::to_string(value);
}

std::string Lines(const JsonValue& strings) {
    std::string joined;
    for (const JsonValue& item : strings.items)
        joined += (joined.empty() ? "" : "\n") + item.text;
    return joined;
}

// The object as it stands in the record ("{}" when there is none): the
// JSON columns keep what the record holds, byte for byte.
std::string Raw(const std::string& json, const JsonValue& v) {
    return v.kind == Kind::Object ? json.substr(v.begin, v.end - v.begin) : "{}";
}

// "8N1": from the settings' frame, or from data bits, parity and stop bits
// for a record that has no frame.
std::string Frame(const JsonValue& settings) {
    if (settings["frame"].kind == Kind::String) return settings["frame"].text;
    const std::string parity = settings["parity"].text;
    return Text(Unsigned(settings["data_bits"])) + (parity.empty() ? "?" : parity.substr(0, 1)) +
           settings["stop_bits"].text;
}

StoredColumns PortColumns(const std::string& json, const JsonValue& p, const std::string& runId,
                          size_t step, uint64_t stepBaud, const std::string& frame) {
    const JsonValue& c = p["counters"];
    const JsonValue& checks = p["checks"];
    const JsonValue& d = checks["delivery"];
    // Blocks its source sent that never arrived whole: those skipped in
    // the sequence, and the tail a lost port never got.
    const uint64_t sent = Unsigned(d["blocks_sent"]), arrived = Unsigned(d["blocks_arrived"]);
    const uint64_t lost = Unsigned(c["blocks_lost"]) + (sent > arrived ? sent - arrived : 0);
    uint64_t longest = 0;
    for (const JsonValue& stall : checks["stalls"].items)
        if (Milliseconds(stall["for"]) > longest) longest = Milliseconds(stall["for"]);
    return {
        {"run_id", runId},
        {"step", Text(step)},
        {"port_index", Text(Unsigned(p["index"]))},
        {"name", p["name"].text},
        {"kind", p["kind"].text},
        {"mode", p["settings"]["mode"].text},
        {"baud_rate", Text(step == 0 ? Unsigned(p["settings"]["baud_rate"]) : stepBaud)},
        {"frame", frame},
        {"block_size", Text(Unsigned(p["settings"]["block_size"]))},
        {"outcome", p["outcome"].text},
        {"result", p["result"].text},
        {"reasons", Lines(p["reasons"])},
        {"rx_bytes", Text(Unsigned(c["rx_bytes"]))},
        {"rx_blocks", Text(Unsigned(c["rx_blocks"]))},
        {"tx_bytes", Text(Unsigned(c["tx_bytes"]))},
        {"tx_blocks", Text(Unsigned(c["tx_blocks"]))},
        {"rate", Text(Unsigned(c["rate"]))},
        {"rx_errors", Text(Unsigned(c["rx_errors"]))},
        {"tx_errors", Text(Unsigned(c["tx_errors"]))},
        {"line_error_reads", Text(Unsigned(c["line_error_reads"]))},
        {"line_errors_seen", c["line_errors_seen"].text},
        {"drops", Text(Unsigned(c["drops"]))},
        {"blocks_lost", Text(lost)},
        {"elapsed_ms", Text(Milliseconds(c["elapsed"]))},
        {"checks", Raw(json, checks)},
        {"source", Text(Unsigned(d["source"]))},
        {"source_blocks_sent", Text(sent)},
        {"blocks_arrived", Text(arrived)},
        {"bytes_cut_short", Text(Unsigned(d["cut_short"]))},
        {"stalls", Text(checks["stalls"].items.size())},
        {"longest_stall_ms", Text(longest)},
    };
}

bool Time(const JsonValue& v, std::string& text) {
    int64_t ms = 0;
    if (v.kind != Kind::String || !ParseUtcTime(v.text, ms)) return false;
    text = Rfc3339Utc(ms);  // one width, so that the texts sort as the times do
    return true;
}

}  // namespace

bool ReadStoredRun(const std::string& json, StoredRun& stored, std::string& error) {
    JsonValue doc;
    if (!ParseJson(json, doc, error)) {
        error = "not JSON: " + error;
        return false;
    }
    const JsonValue& version = doc["schema_version"];
    if (version.kind != Kind::Number || doc["run"].kind != Kind::Object) {
        error = "not a run record of vesktest (no schema_version or run)";
        return false;
    }
    if (version.text != std::to_string(kJsonSchemaVersion)) {
        error = "a run record of schema version " + version.text + ", which this vesktest (" +
                std::to_string(kJsonSchemaVersion) + ") does not know: use a newer vesktest";
        return false;
    }
    const JsonValue& run = doc["run"];
    std::string started, ended;
    if (run["id"].kind != Kind::String || run["id"].text.empty() ||
        !Time(run["started"], started) || !Time(run["ended"], ended) ||
        run["outcome"].kind != Kind::String || doc["ports"].kind != Kind::Array) {
        error =
            "not a whole run record (its run's id, start, end or outcome, or its ports, are "
            "missing)";
        return false;
    }
    stored = StoredRun();
    stored.id = run["id"].text;
    stored.database = run["history"]["database"].text;
    const JsonValue& counts = run["ports"];
    stored.run = {
        {"id", stored.id},
        {"started", started},
        {"ended", ended},
        {"station", run["station"].text},
        {"operator", run["operator"].text},
        {"unit", run["unit"].text},
        {"tool", doc["tool"]["name"].text},
        {"version", doc["tool"]["version"].text},
        {"command_line", run["command_line"].text},
        {"settings", Raw(json, run["settings"])},
        {"wiring", run["wiring"].text},
        {"outcome", run["outcome"].text},
        {"exit_code", Text(Unsigned(run["exit_code"]))},
        {"summary", run["summary"].text},
        {"reasons", Lines(run["reasons"])},
        {"ports_configured", Text(Unsigned(counts["configured"]))},
        {"ports_opened", Text(Unsigned(counts["opened"]))},
        {"ports_not_opened", Text(Unsigned(counts["not_opened"]))},
        {"ports_failing", Text(Unsigned(counts["failing"]))},
        {"ports_not_tested", Text(Unsigned(counts["not_tested"]))},
        {"test_ran_ms", Text(Milliseconds(run["test_ran"]))},
    };
    const std::string frame = Frame(run["settings"]);
    // Step 0: the final rows; 1 and on: a sweep's speeds in the order run.
    for (const JsonValue& port : doc["ports"].items)
        stored.ports.push_back(PortColumns(json, port, stored.id, 0, 0, frame));
    size_t step = 0;
    for (const JsonValue& speed : doc["sweep"].items) {
        ++step;
        for (const JsonValue& port : speed["ports"].items)
            stored.ports.push_back(
                PortColumns(json, port, stored.id, step, Unsigned(speed["baud_rate"]), frame));
    }
    return true;
}
