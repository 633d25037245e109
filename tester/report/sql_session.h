// One connection to a history database, as the history store uses it
// (history_store.cpp): statements with numbered parameters ($1, $2...)
// bound as text, rows back as text (NULL as ""), and the few places where
// the databases' SQL differs (sql_dialects.cpp). The connections:
// history_sqlite.cpp (SQLite 3) and history_postgres.cpp (libpq), built
// on Linux where the client libraries are, and history_odbc.cpp (ODBC:
// unixODBC on Linux, odbc32.dll on Windows) for any database a driver
// reaches.
#pragma once

#include <memory>
#include <string>
#include <vector>

struct SqlDialect {
    const char* name;      // as messages name the database kind
    const char* keyType;   // of the texts that are keys or indexed (id, unit, station, name)
    const char* textType;  // of the other texts, which may be long
    const char* timeType;  // of the time columns: RFC 3339 text, or a time type
    const char* jsonType;  // of the JSON columns: text, or a JSON type
    // A transaction that will write; null: the connection's own (ODBC's
    // manual commit), where the database has no statement every driver
    // takes.
    const char* begin;
    // Run first in the transaction that creates or upgrades the tables,
    // so that two benches doing it at once take turns; "" for none (the
    // store then retries a transaction that met the other's tables).
    const char* schemaLock;
    // Counts the tables named $1 (0 or 1).
    const char* tableExists;
    // A time column as RFC 3339 UTC text, and as its day ("2026-05-01",
    // UTC).
    std::string (*timeText)(const std::string& column);
    std::string (*dayOf)(const std::string& column);
};

const SqlDialect& SqliteDialect();
const SqlDialect& PostgresDialect();
const SqlDialect& SqlServerDialect();
const SqlDialect& MysqlDialect();
// Any other database: standard SQL, times and JSON as text.
const SqlDialect& OtherSqlDialect();

using SqlRows = std::vector<std::vector<std::string>>;

class SqlSession {
  public:
    virtual ~SqlSession() = default;
    virtual const SqlDialect& Dialect() const = 0;
    // One statement; its rows into `rows` when not null. False with the
    // database's words in `error`.
    virtual bool Run(const std::string& sql, const std::vector<std::string>& params, SqlRows* rows,
                     std::string& error) = 0;
    // A write transaction, by the dialect's statements unless the
    // connection has its own way.
    virtual bool Begin(std::string& error) { return Run(Dialect().begin, {}, nullptr, error); }
    virtual bool Commit(std::string& error) { return Run("COMMIT", {}, nullptr, error); }
    virtual void Rollback() {
        std::string ignored;
        Run("ROLLBACK", {}, nullptr, ignored);
    }
};

// Why this build has no back end for the URL scheme `scheme` ("sqlite",
// "postgresql"), in words for the operator that say how to reach the same
// database through ODBC; "" when it has one. Platform-specific:
// history_backends_posix.cpp, history_backends_win32.cpp.
std::string BackEndMissing(const std::string& scheme);

// `path` as a SQLite database. With `create` for writing: made when it is
// not there, refused when it can only be read. Writers that find it busy
// wait for each other (10 s at most).
std::unique_ptr<SqlSession> OpenSqlite(const std::string& path, bool create, std::string& error);

// A PostgreSQL connection string or URI ("postgresql://user@host/db",
// "host=/run/postgresql dbname=tests"); 10 s to connect unless it says
// otherwise.
std::unique_ptr<SqlSession> OpenPostgres(const std::string& conninfo, std::string& error);

// An ODBC connection string ("Driver={SQLite3 ODBC Driver};Database=..."
// or "DSN=floor;UID=vesk;PWD=..."), the dialect chosen by the database the
// driver names. 10 s to log in unless the string says otherwise.
std::unique_ptr<SqlSession> OpenOdbc(const std::string& connection, std::string& error);
