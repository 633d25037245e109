// One connection to a history database, as the history store uses it
// (history_store.cpp): statements with numbered parameters ($1, $2...)
// bound as text, rows back as text (NULL as ""), and the few places where
// the two databases' SQL differs. The back ends are built where their
// client libraries are: history_sqlite.cpp (SQLite 3) and
// history_postgres.cpp (libpq) on Linux.
#pragma once

#include <memory>
#include <string>
#include <vector>

struct SqlDialect {
    const char* timeType;  // of the time columns: TEXT (RFC 3339) or timestamptz
    const char* jsonType;  // of the JSON columns: TEXT or jsonb
    const char* begin;     // a transaction that will write
    // Run first in the transaction that creates or upgrades the tables,
    // so that two benches doing it at once take turns; "" for none.
    const char* schemaLock;
    // Counts the tables named $1 (0 or 1).
    const char* tableExists;
    // A time column as RFC 3339 UTC text with milliseconds, and as its day
    // ("2026-05-01", UTC).
    std::string (*timeText)(const std::string& column);
    std::string (*dayOf)(const std::string& column);
};

using SqlRows = std::vector<std::vector<std::string>>;

class SqlSession {
  public:
    virtual ~SqlSession() = default;
    virtual const SqlDialect& Dialect() const = 0;
    // One statement; its rows into `rows` when not null. False with the
    // database's words in `error`.
    virtual bool Run(const std::string& sql, const std::vector<std::string>& params, SqlRows* rows,
                     std::string& error) = 0;
};

// Why this build has no back end for the URL scheme `scheme` ("sqlite",
// "postgresql"), in words for the operator; "" when it has one.
// Platform-specific: history_backends_posix.cpp, history_backends_win32.cpp.
std::string BackEndMissing(const std::string& scheme);

// `path` as a SQLite database. With `create` for writing: made when it is
// not there, refused when it can only be read. Writers that find it busy
// wait for each other (10 s at most).
std::unique_ptr<SqlSession> OpenSqlite(const std::string& path, bool create, std::string& error);

// A PostgreSQL connection string or URI ("postgresql://user@host/db",
// "host=/run/postgresql dbname=tests"); 10 s to connect unless it says
// otherwise.
std::unique_ptr<SqlSession> OpenPostgres(const std::string& conninfo, std::string& error);
