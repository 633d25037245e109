#include "tester/report/history_store.h"

#include <chrono>
#include <functional>
#include <random>
#include <thread>

#include "tester/report/secret_text.h"
#include "tester/report/sql_session.h"

namespace {

using Statements = std::vector<std::string>;

// The tables of each schema version, as steps from the one before: a
// database of version N gets the steps after N, in one transaction.
// {K}, {X}, {T} and {J} are the dialect's types of key texts, other
// texts, times and JSON.
const std::vector<Statements>& SchemaSteps() {
    static const std::vector<Statements> steps = {
        {
            "CREATE TABLE runs ("
            " id {K} PRIMARY KEY,"
            " started {T} NOT NULL, ended {T} NOT NULL,"
            " station {K} NOT NULL, operator {X} NOT NULL, unit {K} NOT NULL,"
            " tool {X} NOT NULL, version {X} NOT NULL, command_line {X} NOT NULL,"
            " settings {J} NOT NULL, wiring {X} NOT NULL,"
            " outcome {X} NOT NULL, exit_code INTEGER NOT NULL,"
            " summary {X} NOT NULL, reasons {X} NOT NULL,"
            " ports_configured INTEGER NOT NULL, ports_opened INTEGER NOT NULL,"
            " ports_not_opened INTEGER NOT NULL, ports_failing INTEGER NOT NULL)",
            "CREATE INDEX runs_unit_started ON runs (unit, started)",
            "CREATE INDEX runs_station_started ON runs (station, started)",
            "CREATE INDEX runs_started ON runs (started)",
            "CREATE TABLE port_results ("
            " run_id {K} NOT NULL REFERENCES runs (id) ON DELETE CASCADE,"
            " step INTEGER NOT NULL, port_index INTEGER NOT NULL,"
            " name {K} NOT NULL, kind {X} NOT NULL, mode {X} NOT NULL,"
            " baud_rate BIGINT NOT NULL, frame {X} NOT NULL, block_size INTEGER NOT NULL,"
            " outcome {X} NOT NULL, result {X} NOT NULL, reasons {X} NOT NULL,"
            " rx_bytes BIGINT NOT NULL, rx_blocks BIGINT NOT NULL,"
            " tx_bytes BIGINT NOT NULL, tx_blocks BIGINT NOT NULL, rate BIGINT NOT NULL,"
            " rx_errors BIGINT NOT NULL, tx_errors BIGINT NOT NULL,"
            " line_error_reads BIGINT NOT NULL, line_errors_seen {X} NOT NULL,"
            " drops BIGINT NOT NULL, blocks_lost BIGINT NOT NULL, elapsed_ms BIGINT NOT NULL,"
            " checks {J} NOT NULL,"
            " PRIMARY KEY (run_id, step, port_index))",
            "CREATE INDEX port_results_name ON port_results (name)",
        },
        // Version 2: the figures the reasons state, in columns of their
        // own (blocks_lost from now on counts a lost port's tail too), and
        // how much of its test a run ran. "ADD" without "COLUMN": every
        // database takes that.
        {
            "ALTER TABLE runs ADD ports_not_tested INTEGER DEFAULT 0 NOT NULL",
            "ALTER TABLE runs ADD test_ran_ms BIGINT DEFAULT 0 NOT NULL",
            "ALTER TABLE port_results ADD source INTEGER DEFAULT 0 NOT NULL",
            "ALTER TABLE port_results ADD source_blocks_sent BIGINT DEFAULT 0 NOT NULL",
            "ALTER TABLE port_results ADD blocks_arrived BIGINT DEFAULT 0 NOT NULL",
            "ALTER TABLE port_results ADD bytes_cut_short BIGINT DEFAULT 0 NOT NULL",
            "ALTER TABLE port_results ADD stalls INTEGER DEFAULT 0 NOT NULL",
            "ALTER TABLE port_results ADD longest_stall_ms BIGINT DEFAULT 0 NOT NULL",
        },
    };
    return steps;
}

std::string WithTypes(std::string sql, const SqlDialect& dialect) {
    for (const auto& [token, type] :
         {std::pair<std::string, std::string>{"{K}", dialect.keyType},
          std::pair<std::string, std::string>{"{X}", dialect.textType},
          std::pair<std::string, std::string>{"{T}", dialect.timeType},
          std::pair<std::string, std::string>{"{J}", dialect.jsonType}}) {
        for (size_t at; (at = sql.find(token)) != std::string::npos;)
            sql.replace(at, token.size(), type);
    }
    return sql;
}

// A count as the database hands it back (text, from either engine). Someone
// else's table or a hand edit can hold anything there: a cell that is not a
// plain number reads as 0 rather than ending the program.
bool ReadNumber(const std::string& text, uint32_t& value) {
    if (text.empty() || text.size() > 9) return false;
    value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + static_cast<uint32_t>(c - '0');
    }
    return true;
}

uint32_t Count(const std::string& text) {
    uint32_t value = 0;
    return ReadNumber(text, value) ? value : 0;
}

// What the program knows of the schema's version in the database: 0 for
// none yet.
bool StoredVersion(SqlSession& db, int& version, std::string& error) {
    SqlRows rows;
    if (!db.Run(db.Dialect().tableExists, {"vesktest_schema"}, &rows, error)) return false;
    version = 0;
    if (rows.empty() || rows[0].empty() || rows[0][0] == "0") return true;
    rows.clear();
    if (!db.Run("SELECT max(version) FROM vesktest_schema", {}, &rows, error)) return false;
    if (rows.empty() || rows[0].empty() || rows[0][0].empty()) return true;
    uint32_t stored = 0;
    if (!ReadNumber(rows[0][0], stored)) {
        error = "its vesktest_schema table holds \"" + rows[0][0] + "\", not a version number";
        return false;
    }
    version = static_cast<int>(stored);
    return true;
}

std::string NewerSchema(int version) {
    return "its tables are of version " + std::to_string(version) +
           ", newer than this vesktest's " + std::to_string(kHistorySchemaVersion) +
           ": use a newer vesktest";
}

// Creates or upgrades the tables, inside the caller's transaction.
bool EnsureSchema(SqlSession& db, std::string& error) {
    const SqlDialect& d = db.Dialect();
    if (*d.schemaLock && !db.Run(d.schemaLock, {}, nullptr, error)) return false;
    int version = 0;
    if (!StoredVersion(db, version, error)) return false;
    if (version > kHistorySchemaVersion) {
        error = NewerSchema(version);
        return false;
    }
    if (version == kHistorySchemaVersion) return true;
    if (version == 0 &&
        !db.Run("CREATE TABLE vesktest_schema (version INTEGER NOT NULL)", {}, nullptr, error))
        return false;
    const std::vector<Statements>& steps = SchemaSteps();
    for (int step = version; step < kHistorySchemaVersion; ++step)
        for (const std::string& sql : steps[static_cast<size_t>(step)])
            if (!db.Run(WithTypes(sql, d), {}, nullptr, error)) return false;
    return db.Run("DELETE FROM vesktest_schema", {}, nullptr, error) &&
           db.Run("INSERT INTO vesktest_schema (version) VALUES ($1)",
                  {std::to_string(kHistorySchemaVersion)}, nullptr, error);
}

// "INSERT INTO table (a, b) VALUES ($1, $2)" of the columns.
bool Insert(SqlSession& db, const char* table, const StoredColumns& columns, std::string& error) {
    std::string names, values;
    std::vector<std::string> params;
    for (const auto& [name, value] : columns) {
        names += (params.empty() ? "" : ", ") + name;
        params.push_back(value);
        values += (params.size() == 1 ? "$" : ", $") + std::to_string(params.size());
    }
    return db.Run(std::string("INSERT INTO ") + table + " (" + names + ") VALUES (" + values + ")",
                  params, nullptr, error);
}

// The run and its ports, unless a run of its id is there already (the
// same record imported again, or brought in from the spool twice).
bool InsertRun(SqlSession& db, const StoredRun& run, bool& already, std::string& error) {
    SqlRows rows;
    if (!db.Run("SELECT count(*) FROM runs WHERE id = $1", {run.id}, &rows, error)) return false;
    already = !rows.empty() && !rows[0].empty() && Count(rows[0][0]) != 0;
    if (already) return true;
    if (!Insert(db, "runs", run.run, error)) return false;
    for (const StoredColumns& port : run.ports)
        if (!Insert(db, "port_results", port, error)) return false;
    return true;
}

class SqlHistory : public RunHistory {
  public:
    using Opener = std::function<std::unique_ptr<SqlSession>(bool create, std::string&)>;
    // `secrets`: the passwords of the URL, which no error may carry out.
    SqlHistory(std::string where, std::vector<std::string> secrets, Opener open)
        : where_(std::move(where)), secrets_(std::move(secrets)), open_(std::move(open)) {}

    std::string Where() const override { return where_; }

    bool Check(std::string& error) override {
        const bool ok = Write(error, [](SqlSession&, std::string&) { return true; });
        error = RedactSecrets(error, secrets_);
        return ok;
    }

    AppendOutcome Append(const StoredRun& run, std::string& error) override {
        bool already = false;
        const bool ok = Write(error, [&](SqlSession& db, std::string& why) {
            return InsertRun(db, run, already, why);
        });
        error = RedactSecrets(error, secrets_);
        return !ok       ? AppendOutcome::Failed
               : already ? AppendOutcome::AlreadyStored
                         : AppendOutcome::Stored;
    }

    bool Read(const HistoryQuery& query, HistoryReport& report, std::string& error) override {
        const bool ok = ReadAll(query, report, error);
        error = RedactSecrets(error, secrets_);
        return ok;
    }

  private:
    bool ReadAll(const HistoryQuery& query, HistoryReport& report, std::string& error) {
        std::unique_ptr<SqlSession> db = open_(false, error);
        if (!db) return false;
        int version = 0;
        if (!StoredVersion(*db, version, error)) return false;
        if (version == 0) return true;  // no run yet
        if (version > kHistorySchemaVersion) {
            error = NewerSchema(version);
            return false;
        }
        return ReadRuns(*db, query, report, error) &&
               (!query.unit.empty() ||
                (ReadYield(*db, query, report, error) && ReadFailures(*db, query, report, error)));
    }

    // One transaction: the tables made or upgraded, then `work`; all of
    // it is undone when any part fails. A transaction that fails once the
    // database is reached is tried again a few times, a little later each
    // time: another bench may have been creating the tables (a database
    // without a lock for that) or held SQLite's write lock past the wait.
    bool Write(std::string& error, const std::function<bool(SqlSession&, std::string&)>& work) {
        static constexpr int kAttempts = 4;
        std::minstd_rand jitter(
            static_cast<unsigned>(std::chrono::steady_clock::now().time_since_epoch().count()));
        for (int attempt = 1;; ++attempt) {
            std::unique_ptr<SqlSession> db = open_(true, error);
            if (!db) return false;
            if (db->Begin(error) && EnsureSchema(*db, error) && work(*db, error) &&
                db->Commit(error))
                return true;
            db->Rollback();
            if (attempt == kAttempts) return false;
            std::this_thread::sleep_for(
                std::chrono::milliseconds(100 * attempt + static_cast<int>(jitter() % 100)));
        }
    }

    // " WHERE ..." for the query, its parameters in `params`.
    static std::string Where(const HistoryQuery& query, const std::string& prefix,
                             std::vector<std::string>& params) {
        std::string where;
        if (!query.unit.empty()) {
            params.push_back(query.unit);
            where += " AND " + prefix + "unit = $" + std::to_string(params.size());
        }
        if (query.sinceMs >= 0) {
            params.push_back(Rfc3339Utc(query.sinceMs));
            where += " AND " + prefix + "started >= $" + std::to_string(params.size());
        }
        return where.empty() ? "" : " WHERE" + where.substr(4);
    }

    bool ReadRuns(SqlSession& db, const HistoryQuery& query, HistoryReport& report,
                  std::string& error) {
        const SqlDialect& d = db.Dialect();
        std::vector<std::string> params;
        const std::string sql = "SELECT " + d.timeText("started") + ", " + d.timeText("ended") +
                                ", unit, station, operator, version, outcome, exit_code,"
                                " ports_configured, ports_failing, ports_not_opened, id, summary"
                                " FROM runs" +
                                Where(query, "", params) + " ORDER BY started DESC, id";
        SqlRows rows;
        if (!db.Run(sql, params, &rows, error)) return false;
        for (const auto& row : rows) {
            PastRun run;
            run.started = row[0];
            run.ended = row[1];
            run.unit = row[2];
            run.station = row[3];
            run.operatorName = row[4];
            run.version = row[5];
            run.outcome = row[6];
            run.exitCode = static_cast<int>(Count(row[7]));
            run.ports = Count(row[8]);
            run.failing = Count(row[9]);
            run.notOpened = Count(row[10]);
            run.runId = row[11];
            run.summary = row[12];
            report.runs.push_back(std::move(run));
        }
        return true;
    }

    bool ReadYield(SqlSession& db, const HistoryQuery& query, HistoryReport& report,
                   std::string& error) {
        const SqlDialect& d = db.Dialect();
        std::vector<std::string> params;
        // A run stopped before its time decides nothing about its unit.
        std::string where = Where(query, "", params);
        where += (where.empty() ? " WHERE" : " AND") +
                 std::string(" unit <> '' AND outcome <> 'ABORTED'");
        const std::string day = d.dayOf("started");
        const std::string sql =
            "SELECT day, count(*), sum(CASE WHEN outcome = 'PASS' THEN 1 ELSE 0 END) FROM"
            " (SELECT " +
            day + " AS day, outcome, row_number() OVER (PARTITION BY " + day +
            ", unit ORDER BY started) AS n FROM runs" + where +
            ") AS firsts WHERE n = 1 GROUP BY day ORDER BY day DESC";
        SqlRows rows;
        if (!db.Run(sql, params, &rows, error)) return false;
        for (const auto& row : rows)
            report.yield.push_back(YieldDay{row[0], Count(row[1]), Count(row[2])});
        return true;
    }

    bool ReadFailures(SqlSession& db, const HistoryQuery& query, HistoryReport& report,
                      std::string& error) {
        std::vector<std::string> params;
        // A port's worst outcome in each run (over a sweep's speeds), then
        // counted per station and name; a port that was not tested (the
        // run was stopped first) is no run of it.
        std::string where = Where(query, "r.", params);
        where += where.empty() ? " WHERE p.outcome <> 'SKIPPED'" : " AND p.outcome <> 'SKIPPED'";
        const std::string sql =
            "SELECT station, name, count(*), sum(CASE WHEN worst = 2 THEN 1 ELSE 0 END),"
            " sum(CASE WHEN worst = 3 THEN 1 ELSE 0 END) FROM"
            " (SELECT p.run_id, r.station, p.name, max(CASE p.outcome WHEN 'ERROR' THEN 3"
            " WHEN 'FAIL' THEN 2 ELSE 1 END) AS worst FROM port_results p JOIN runs r ON"
            " r.id = p.run_id" +
            where +
            " GROUP BY p.run_id, r.station, p.name) AS worst_per_run GROUP BY station, name"
            " ORDER BY sum(CASE WHEN worst > 1 THEN 1 ELSE 0 END) DESC, station, name";
        SqlRows rows;
        if (!db.Run(sql, params, &rows, error)) return false;
        for (const auto& row : rows)
            report.failures.push_back(
                PortFailures{row[0], row[1], Count(row[2]), Count(row[3]), Count(row[4])});
        return true;
    }

    std::string where_;
    std::vector<std::string> secrets_;
    Opener open_;
};

}  // namespace

std::unique_ptr<RunHistory> MakeRunHistory(const std::string& url, std::string& error) {
    const std::string shown = MaskSecrets(url);
    const std::vector<std::string> secrets = SecretsIn(url);
    const bool sqlite = url.compare(0, 7, "sqlite:") == 0;
    const bool postgres =
        url.compare(0, 13, "postgresql://") == 0 || url.compare(0, 11, "postgres://") == 0;
    if (sqlite || postgres) {
        error = BackEndMissing(sqlite ? "sqlite" : "postgresql");
        if (!error.empty()) return nullptr;
    }
    if (sqlite) {
        std::string path = url.substr(7);
        if (path.compare(0, 2, "//") == 0) path = path.substr(2);  // sqlite:///var/x.db
        if (path.empty()) {
            error = "--db sqlite: needs a file name (sqlite:runs.db)";
            return nullptr;
        }
        return std::make_unique<SqlHistory>(
            "sqlite:" + path, secrets,
            [path](bool create, std::string& why) { return OpenSqlite(path, create, why); });
    }
    if (postgres)
        return std::make_unique<SqlHistory>(
            shown, secrets, [url](bool, std::string& why) { return OpenPostgres(url, why); });
    if (url.compare(0, 5, "odbc:") == 0) {
        const std::string connection = url.substr(5);
        if (connection.find('=') == std::string::npos) {
            error =
                "--db odbc: needs a connection string (odbc:DSN=NAME or "
                "odbc:Driver={...};Database=...)";
            return nullptr;
        }
        return std::make_unique<SqlHistory>(shown, secrets, [connection](bool, std::string& why) {
            return OpenOdbc(connection, why);
        });
    }
    error = std::string("--db takes ") +
            (BackEndMissing("sqlite").empty()
                 ? "sqlite:FILE, postgresql://[USER@]HOST[:PORT]/DATABASE or "
                 : "") +
            "odbc:CONNECTION-STRING, not '" + shown + "'";
    return nullptr;
}
