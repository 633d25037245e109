// What the history database adds to a run: the time of one Append (open,
// tables checked, the run and its ports inserted in one transaction,
// closed), which a run pays at its end, and of the Check it makes at its
// start; into a SQLite file on the local disk, and into a PostgreSQL
// server on a Unix socket (Debian's postgresql, started here in a
// temporary folder; skipped without it), each through its client library
// and through ODBC (unixODBC's SQLite3 and psqlODBC drivers). The record
// is a plain run's: the ports' counters and a rate check each, made into
// its JSON and read back into rows as a run's end does.
//
// usage: history_bench [appends [ports]]   (50 and 8)
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "tester/report/history_store.h"
#include "tester/report/json_record.h"
#include "tests/support/postgres.h"

namespace {

RunRecord Record(uint32_t ports, uint32_t run) {
    std::vector<BatchRow> rows(ports);
    for (uint32_t i = 0; i < ports; ++i) {
        BatchRow& row = rows[i];
        row.ready = true;
        row.cells[0] = std::to_string(i + 1);
        row.cells[1] = "/dev/ttyUSB" + std::to_string(i);
        row.values.kind = DeviceKind::Serial;
        row.values.bytesRead = row.values.bytesWritten = 3456000;
        row.values.blocksOk = row.values.blocksWritten = 3375;
        row.values.elapsedMs = 300000;
        row.values.baudAsked = row.values.baudSet = 115200;
        row.values.blockSize = 1024;
        row.rate = RateCheck{RateVerdict::Passed, 115200, 11520, 11498.7, 0.998};
    }
    BatchSummary summary;
    summary.configured = summary.opened = ports;
    RunSettings settings;
    settings.seconds = 300;
    settings.checkRate = true;
    settings.rateTolerance = 0.03;
    settings.notPacedRatio = 2;
    RunRecord r =
        MakeRunRecord(settings, 1777593600000 + run * 400000ll, rows, summary, {}, 0, false);
    r.tags = RunTags{"SN-" + std::to_string(run % 20), "bench-1", "bench"};
    r.version = "1.1.2.1";
    return r;
}

double Ms(std::chrono::steady_clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

void Measure(const char* name, RunHistory& history, uint32_t appends, uint32_t ports) {
    std::vector<double> times;
    std::string error;
    auto start = std::chrono::steady_clock::now();
    if (!history.Check(error)) {
        std::printf("%-10s cannot be used: %s\n", name, error.c_str());
        return;
    }
    const double firstCheck = Ms(std::chrono::steady_clock::now() - start);
    start = std::chrono::steady_clock::now();
    history.Check(error);
    const double check = Ms(std::chrono::steady_clock::now() - start);
    for (uint32_t i = 0; i < appends; ++i) {
        const RunRecord record = Record(ports, i);
        start = std::chrono::steady_clock::now();
        // As a run's end does it: the record's JSON, read back into rows.
        StoredRun stored;
        if (!ReadStoredRun(FormatJsonRecord(record), stored, error) ||
            history.Append(stored, error) != AppendOutcome::Stored) {
            std::printf("%-10s append failed: %s\n", name, error.c_str());
            return;
        }
        times.push_back(Ms(std::chrono::steady_clock::now() - start));
    }
    std::sort(times.begin(), times.end());
    HistoryReport report;
    start = std::chrono::steady_clock::now();
    history.Read(HistoryQuery(), report, error);
    const double read = Ms(std::chrono::steady_clock::now() - start);
    std::printf("%-10s  %6.2f  %6.2f  %6.2f  %6.2f  %6.2f  %6.2f  %8.2f\n", name, firstCheck, check,
                times.front(), times[times.size() / 2], times[times.size() * 99 / 100],
                times.back(), read);
}

}  // namespace

int main(int argc, char** argv) {
    const uint32_t appends = argc > 1 ? static_cast<uint32_t>(std::atoi(argv[1])) : 50;
    const uint32_t ports = argc > 2 ? static_cast<uint32_t>(std::atoi(argv[2])) : 8;
    if (appends == 0 || ports == 0) {
        std::fprintf(stderr, "usage: history_bench [appends [ports]]\n");
        return 2;
    }
    std::printf(
        "%u appends of a run of %u ports; ms: the first Check (tables made), a "
        "Check, Append min, p50, p99, max, then Read of the whole history\n",
        appends, ports);
    std::printf("%-10s  %6s  %6s  %6s  %6s  %6s  %6s  %8s\n", "database", "made", "check", "min",
                "p50", "p99", "max", "history");
    const auto folder = std::filesystem::temp_directory_path() / "vesk-history-bench";
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
    std::string error;
    auto sqlite = MakeRunHistory("sqlite:" + (folder / "runs.db").string(), error);
    Measure("sqlite", *sqlite, appends, ports);
    auto sqliteOdbc =
        MakeRunHistory("odbc:Driver=SQLite3;Database=" + (folder / "odbc.db").string(), error);
    Measure("odbc-sqlite", *sqliteOdbc, appends, ports);
    std::filesystem::remove_all(folder);

    if (rig::PostgresServer::binDir().empty()) {
        std::printf("%-10s  skipped: %s\n", "postgresql",
                    rig::PostgresServer::missingMessage().c_str());
        return 0;
    }
    rig::PostgresServer server;
    if (!server.start(&error)) {
        std::printf("postgresql  could not start: %s\n", error.c_str());
        return 1;
    }
    auto postgres = MakeRunHistory(server.url(), error);
    Measure("postgresql", *postgres, appends, ports);
    auto postgresOdbc =
        MakeRunHistory("odbc:Driver={PostgreSQL Unicode};Servername=" + server.folder() +
                           ";Port=5432;Database=postgres;Uid=vesk",
                       error);
    Measure("odbc-pg", *postgresOdbc, appends, ports);
    return 0;
}
