// What differs between the databases the history is kept in, as the
// store's SQL needs it. SQLite and PostgreSQL are reached both through
// their own client libraries and through ODBC, with the same dialect, so
// that a database is the same whichever way a station comes to it.
#include "tester/report/sql_session.h"

namespace {

std::string PlainTime(const std::string& column) {
    return column;  // kept as RFC 3339 text, which sorts as time does
}

std::string DayOfText(const std::string& column) {
    return "substr(" + column + ", 1, 10)";
}

std::string DayOfTextStandard(const std::string& column) {
    return "SUBSTRING(" + column + ", 1, 10)";
}

std::string UtcText(const std::string& column) {
    return "to_char(" + column + " AT TIME ZONE 'UTC', 'YYYY-MM-DD\"T\"HH24:MI:SS.MS\"Z\"')";
}

std::string UtcDay(const std::string& column) {
    return "to_char(" + column + " AT TIME ZONE 'UTC', 'YYYY-MM-DD')";
}

}  // namespace

const SqlDialect& SqliteDialect() {
    static const SqlDialect dialect = {
        "SQLite", "TEXT", "TEXT", "TEXT", "TEXT",
        // Takes the write lock at once: a transaction that reads first and
        // writes later could meet another writer and fail instead of
        // waiting.
        "BEGIN IMMEDIATE", "",
        "SELECT count(*) FROM sqlite_master WHERE type = 'table' AND name = $1", PlainTime,
        DayOfText};
    return dialect;
}

const SqlDialect& PostgresDialect() {
    static const SqlDialect dialect = {
        "PostgreSQL", "TEXT", "TEXT", "timestamptz", "jsonb", "BEGIN",
        // Any number fixed for this program: benches that create the
        // tables at the same moment wait for each other instead of
        // colliding.
        "SELECT pg_advisory_xact_lock(7311402023)",
        "SELECT count(*) FROM information_schema.tables WHERE table_schema = current_schema() AND "
        "table_name = $1",
        UtcText, UtcDay};
    return dialect;
}

// Times as RFC 3339 text, as in SQLite: one width, so they sort and
// compare as the times do, and read back as written.
const SqlDialect& SqlServerDialect() {
    static const SqlDialect dialect = {
        "SQL Server",
        "NVARCHAR(255)",
        "NVARCHAR(MAX)",
        "VARCHAR(24)",
        "NVARCHAR(MAX)",
        "BEGIN TRANSACTION",
        "EXEC sp_getapplock @Resource = 'vesktest_schema', @LockMode = 'Exclusive', "
        "@LockOwner = 'Transaction', @LockTimeout = 10000",
        "SELECT count(*) FROM information_schema.tables WHERE table_schema = SCHEMA_NAME() AND "
        "table_name = $1",
        PlainTime,
        DayOfTextStandard};
    return dialect;
}

const SqlDialect& MysqlDialect() {
    static const SqlDialect dialect = {
        "MySQL", "VARCHAR(255)", "LONGTEXT", "VARCHAR(24)", "LONGTEXT", "START TRANSACTION",
        // Held by the session until it ends, which is the transaction's end
        // here: one connection writes one run.
        "SELECT GET_LOCK('vesktest_schema', 10)",
        "SELECT count(*) FROM information_schema.tables WHERE table_schema = DATABASE() AND "
        "table_name = $1",
        PlainTime, DayOfTextStandard};
    return dialect;
}

const SqlDialect& OtherSqlDialect() {
    static const SqlDialect dialect = {
        "SQL",
        "VARCHAR(255)",
        "VARCHAR(4000)",
        "VARCHAR(24)",
        "VARCHAR(4000)",
        nullptr,
        "",
        "SELECT count(*) FROM information_schema.tables WHERE table_name = $1",
        PlainTime,
        DayOfTextStandard};
    return dialect;
}
