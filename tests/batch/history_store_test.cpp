// The history database behind every --db form this build offers, the
// same tables in each: every back end keeps the figures of a lost port in
// their columns, takes two writers at once (the tables made by whichever
// comes first) without losing a run, stores a record brought in twice
// once, upgrades a database of the first version, and names a database
// that is down without its password. Built for Linux (sqlite:,
// postgresql:, odbc: through unixODBC) and for Windows, run under Wine
// (odbc: through odbc32.dll, which Wine hands to the host's unixODBC).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <atomic>
#include <filesystem>
#include <functional>
#include <thread>

#include "tester/batch/verdict.h"
#include "tester/engine/port_worker.h"
#include "tester/report/history_store.h"
#include "tester/report/json_record.h"
#include "tester/report/sql_session.h"
#include "tests/batch/test_postgres.h"

namespace {

namespace fs = std::filesystem;

// This build has the sqlite: and postgresql: back ends (Linux).
const bool kNative = BackEndMissing("sqlite").empty();

// A run of three ports: a clean one, one lost for good after 70 of the
// 100 blocks its source sent (2 more skipped on the way, two stalls), and
// one named in Latin-1 and UTF-8 that did not open.
RunRecord LostPortRun(int unit) {
    std::vector<BatchRow> rows(3);
    for (size_t i = 0; i < rows.size(); ++i) {
        rows[i].cells[kColumnNumber] = std::to_string(i + 1);
        rows[i].cells[kColumnName] = "/dev/ttyUSB" + std::to_string(i);
    }
    for (size_t i = 0; i < 2; ++i) {
        BatchRow& row = rows[i];
        row.ready = true;
        row.values.kind = DeviceKind::Serial;
        row.values.bytesRead = row.values.bytesWritten = 102400;
        row.values.blocksOk = row.values.blocksWritten = 100;
        row.values.elapsedMs = 10250;
        row.values.baudAsked = row.values.baudSet = 115200;
        row.values.blockSize = 1024;
        row.values.rowIndex = static_cast<int32_t>(i);
    }
    BatchRow& lost = rows[1];
    lost.values.blocksOk = 68;
    lost.values.blocksLost = 2;
    lost.values.drops = 1;
    lost.delivery = Delivery{true, 0, 100, 102400, 70, 71680, 0};
    lost.stalls = {Stall{3000, 2500}, Stall{6000, 4250}};
    rows[2].cells[kColumnName] = "COM\xe9 \xc3\xa9";
    rows[2].openFailure = "No such file or directory";
    RunSettings settings;
    settings.seconds = 10;
    BatchSummary summary = Summarise(rows, 3);
    RunRecord r = MakeRunRecord(settings, UnixMsNow(), rows, summary, {}, summary.exitCode, false);
    r.tags = RunTags{"SN-" + std::to_string(unit), "bench-1", "ana"};
    r.version = "1.1.2.1";
    r.commandLine = "vesktest --batch 10 bench.ini";
    return r;
}

StoredRun Stored(const RunRecord& record) {
    StoredRun run;
    std::string error;
    EXPECT_TRUE(ReadStoredRun(FormatJsonRecord(record), run, error)) << error;
    return run;
}

// One --db form, and the connection the test looks into its tables by.
struct BackEnd {
    std::string name;
    std::string url;
    std::function<std::unique_ptr<SqlSession>(std::string&)> open;
};

std::string Column(SqlSession& db, const std::string& sql) {
    SqlRows rows;
    std::string error;
    EXPECT_TRUE(db.Run(sql, {}, &rows, error)) << sql << ": " << error;
    return rows.empty() || rows[0].empty() ? "" : rows[0][0];
}

class HistoryStore : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("vesk-history-" + NewRunId());
        fs::create_directories(dir_);
        // Where the ODBC driver is to make its files. Under Wine the driver
        // is the host's, which takes a path as the host does: the suite
        // names a folder of the host's (and removes it at its end).
        const char* host = std::getenv("VESK_TEST_HOST_FOLDER");
        driverFolder_ =
            host && *host ? std::string(host) + "/" + NewRunId() + "-" : dir_.string() + "/";
    }
    void TearDown() override {
        std::error_code ignored;
        fs::remove_all(dir_, ignored);
    }

    // Every form this build offers, each on a fresh database.
    std::vector<BackEnd> BackEnds() {
        std::vector<BackEnd> ends;
        const std::string odbcFile = driverFolder_ + "odbc.db";
        ends.push_back({"odbc: SQLite", "odbc:Driver=SQLite3;Database=" + odbcFile + ";PWD=s3cr3t",
                        [odbcFile](std::string& e) {
                            return OpenOdbc("Driver=SQLite3;Database=" + odbcFile, e);
                        }});
        if (kNative) {
            const std::string file = (dir_ / "native.db").string();
            ends.push_back({"sqlite:", "sqlite:" + file,
                            [file](std::string& e) { return OpenSqlite(file, false, e); }});
        }
        std::string why;
        if (!postgres_.Start(why)) {
            std::printf("[ info ] no PostgreSQL: %s\n", why.c_str());
            return ends;
        }
        const std::string socket = postgres_.SocketFolder();
        const std::string odbc =
            "Driver={PostgreSQL Unicode};Servername=" + socket + ";Port=5432;Uid=vesk;Database=";
        std::string error;
        auto admin = OpenOdbc(odbc + "postgres", error);
        EXPECT_TRUE(admin) << error;
        if (!admin) return ends;
        for (const char* db : {"via_odbc", "via_libpq"}) {
            admin->Run(std::string("DROP DATABASE IF EXISTS ") + db, {}, nullptr, error);
            EXPECT_TRUE(admin->Run(std::string("CREATE DATABASE ") + db, {}, nullptr, error))
                << error;
        }
        ends.push_back({"odbc: PostgreSQL", "odbc:" + odbc + "via_odbc;Pwd={s3;cr3t}",
                        [odbc](std::string& e) { return OpenOdbc(odbc + "via_odbc", e); }});
        if (kNative) {
            const std::string url = "postgresql://vesk:s3cr3t@/via_libpq?host=" + socket;
            ends.push_back({"postgresql:", url,
                            [odbc](std::string& e) { return OpenOdbc(odbc + "via_libpq", e); }});
        }
        return ends;
    }

    fs::path dir_;
    std::string driverFolder_;  // a path prefix for files the ODBC driver makes
    TestPostgres postgres_;
};

TEST_F(HistoryStore, EveryBackEndKeepsEveryRunOfTwoWritersAndTheFiguresInColumns) {
    for (const BackEnd& end : BackEnds()) {
        SCOPED_TRACE(end.name);
        std::string error;
        EXPECT_EQ(MakeRunHistory(end.url, error)->Where().find("s3cr3t"), std::string::npos);
        // Two benches at once on a database without tables: one makes
        // them while the other waits or tries again; no run is lost.
        constexpr int kRuns = 6;
        std::atomic<int> stored{0};
        std::vector<std::string> failures(2);
        std::vector<std::thread> writers;
        for (int w = 0; w < 2; ++w)
            writers.emplace_back([&, w] {
                std::string why;
                auto history = MakeRunHistory(end.url, why);
                for (int i = 0; i < kRuns; ++i)
                    if (history->Append(Stored(LostPortRun(w * kRuns + i)), why) ==
                        AppendOutcome::Stored)
                        ++stored;
                    else
                        failures[w] = why;
            });
        for (std::thread& writer : writers)
            writer.join();
        EXPECT_EQ(stored.load(), 2 * kRuns) << failures[0] << " / " << failures[1];

        auto history = MakeRunHistory(end.url, error);
        const StoredRun again = Stored(LostPortRun(99));
        EXPECT_EQ(history->Append(again, error), AppendOutcome::Stored) << error;
        EXPECT_EQ(history->Append(again, error), AppendOutcome::AlreadyStored) << error;
        HistoryReport report;
        ASSERT_TRUE(history->Read(HistoryQuery(), report, error)) << error;
        EXPECT_EQ(report.runs.size(), size_t{2 * kRuns + 1});
        ASSERT_EQ(report.failures.size(), 3u);
        // The name comes back as UTF-8, its Latin-1 byte as the character.
        const auto named = std::find_if(report.failures.begin(), report.failures.end(),
                                        [](const PortFailures& f) { return f.name[0] == 'C'; });
        ASSERT_NE(named, report.failures.end());
        EXPECT_EQ(named->name, "COM\xc3\xa9 \xc3\xa9");
        EXPECT_EQ(named->errors, uint32_t{2 * kRuns + 1});
        EXPECT_EQ(named->station, "bench-1");

        // The lost port's figures, as a query reads them.
        auto db = end.open(error);
        ASSERT_TRUE(db) << error;
        const std::string where =
            " FROM port_results WHERE run_id = '" + again.id + "' AND port_index = 2";
        EXPECT_EQ(Column(*db, "SELECT blocks_lost" + where), "32") << "2 skipped, 30 never came";
        EXPECT_EQ(Column(*db, "SELECT source_blocks_sent" + where), "100");
        EXPECT_EQ(Column(*db, "SELECT blocks_arrived" + where), "70");
        EXPECT_EQ(Column(*db, "SELECT stalls" + where), "2");
        EXPECT_EQ(Column(*db, "SELECT longest_stall_ms" + where), "4250");
        EXPECT_EQ(Column(*db, "SELECT drops" + where), "1");
        EXPECT_EQ(Column(*db, "SELECT elapsed_ms" + where), "10250");
        EXPECT_EQ(Column(*db, "SELECT max(version) FROM vesktest_schema"), "2");
        EXPECT_EQ(Column(*db, "SELECT count(*) FROM runs"), std::to_string(2 * kRuns + 1));
    }
}

// A database a station made with the first version of the tables keeps its
// runs and takes new ones with the new columns.
TEST_F(HistoryStore, AFirstVersionDatabaseIsUpgradedInPlace) {
    const std::string file = driverFolder_ + "v1.db";
    std::string error;
    auto db = OpenOdbc("Driver=SQLite3;Database=" + file, error);
    ASSERT_TRUE(db) << error;
    for (const char* sql :
         {"CREATE TABLE vesktest_schema (version INTEGER NOT NULL)",
          "INSERT INTO vesktest_schema VALUES (1)",
          "CREATE TABLE runs (id TEXT PRIMARY KEY, started TEXT NOT NULL, ended TEXT NOT NULL,"
          " station TEXT NOT NULL, operator TEXT NOT NULL, unit TEXT NOT NULL, tool TEXT NOT NULL,"
          " version TEXT NOT NULL, command_line TEXT NOT NULL, settings TEXT NOT NULL,"
          " wiring TEXT NOT NULL, outcome TEXT NOT NULL, exit_code INTEGER NOT NULL,"
          " summary TEXT NOT NULL, reasons TEXT NOT NULL, ports_configured INTEGER NOT NULL,"
          " ports_opened INTEGER NOT NULL, ports_not_opened INTEGER NOT NULL,"
          " ports_failing INTEGER NOT NULL)",
          "CREATE TABLE port_results (run_id TEXT NOT NULL REFERENCES runs (id) ON DELETE CASCADE,"
          " step INTEGER NOT NULL, port_index INTEGER NOT NULL, name TEXT NOT NULL,"
          " kind TEXT NOT NULL, mode TEXT NOT NULL, baud_rate BIGINT NOT NULL, frame TEXT NOT NULL,"
          " block_size INTEGER NOT NULL, outcome TEXT NOT NULL, result TEXT NOT NULL,"
          " reasons TEXT NOT NULL, rx_bytes BIGINT NOT NULL, rx_blocks BIGINT NOT NULL,"
          " tx_bytes BIGINT NOT NULL, tx_blocks BIGINT NOT NULL, rate BIGINT NOT NULL,"
          " rx_errors BIGINT NOT NULL, tx_errors BIGINT NOT NULL,"
          " line_error_reads BIGINT NOT NULL, line_errors_seen TEXT NOT NULL,"
          " drops BIGINT NOT NULL, blocks_lost BIGINT NOT NULL, elapsed_ms BIGINT NOT NULL,"
          " checks TEXT NOT NULL, PRIMARY KEY (run_id, step, port_index))",
          "INSERT INTO runs VALUES ('old', '2026-05-01T22:10:05.123Z', '2026-05-01T22:15:05.123Z',"
          " 'bench-1', 'ana', 'SN-1', 'vesktest', '1.1.2.1', 'vesktest --batch 300', '{}', '',"
          " 'PASS', 0, 'passed', '', 1, 1, 0, 0)"})
        ASSERT_TRUE(db->Run(sql, {}, nullptr, error)) << sql << ": " << error;
    db.reset();
    auto history = MakeRunHistory("odbc:Driver=SQLite3;Database=" + file, error);
    ASSERT_EQ(history->Append(Stored(LostPortRun(2)), error), AppendOutcome::Stored) << error;
    HistoryReport report;
    ASSERT_TRUE(history->Read(HistoryQuery(), report, error)) << error;
    ASSERT_EQ(report.runs.size(), 2u);
    EXPECT_EQ(report.runs[1].runId, "old");
    db = OpenOdbc("Driver=SQLite3;Database=" + file, error);
    EXPECT_EQ(Column(*db, "SELECT version FROM vesktest_schema"), "2");
    EXPECT_EQ(Column(*db, "SELECT test_ran_ms FROM runs WHERE id = 'old'"), "0");
    EXPECT_EQ(Column(*db, "SELECT test_ran_ms FROM runs WHERE id <> 'old'"), "10000");
}

// A database that cannot be reached: every form says so, and no message
// carries its password, whatever the driver echoes.
TEST_F(HistoryStore, ADatabaseThatIsDownIsNamedWithoutItsPassword) {
    std::vector<std::string> urls = {
        "odbc:Driver={PostgreSQL Unicode};Servername=" + (dir_ / "none").string() +
            ";Port=5432;Database=x;Uid=vesk;PWD=s3cr3t",
        "odbc:Driver={No Such Driver s3cr3t};Database=x;Password={s3cr3t}",
        "odbc:Driver=SQLite3;Database=" + driverFolder_ + "no/such/x.db;PWD=s3cr3t"};
    if (kNative)
        urls.push_back("postgresql://vesk:s3cr3t@/x?host=" + (dir_ / "none").string() +
                       "&password=s3cr3t");
    for (const std::string& url : urls) {
        SCOPED_TRACE(url);
        std::string error;
        auto history = MakeRunHistory(url, error);
        ASSERT_TRUE(history) << error;
        EXPECT_FALSE(history->Check(error));
        EXPECT_FALSE(error.empty());
        EXPECT_EQ(error.find("s3cr3t"), std::string::npos) << error;
        EXPECT_EQ(history->Where().find("s3cr3t"), std::string::npos) << history->Where();
        HistoryReport report;
        EXPECT_FALSE(history->Read(HistoryQuery(), report, error));
        EXPECT_EQ(error.find("s3cr3t"), std::string::npos) << error;
    }
    // Where the build has no client library of its own, the forms that
    // need one are refused with the way to reach the same database.
    std::string error;
    const bool sqlite = MakeRunHistory("sqlite:x.db", error) != nullptr;
    EXPECT_EQ(sqlite, kNative);
    if (!kNative) {
        EXPECT_NE(error.find("odbc:Driver={SQLite3 ODBC Driver}"), std::string::npos) << error;
    }
    EXPECT_FALSE(MakeRunHistory("mysql://x", error));
    EXPECT_NE(error.find("odbc:CONNECTION-STRING"), std::string::npos) << error;
}

}  // namespace
