// Where there are no SQLite and libpq client libraries to link (the
// Windows builds), sqlite: and postgresql: are not offered: the history
// goes through ODBC there, to the same databases.
#include "tester/report/sql_session.h"

const bool kNativeHistoryBackEnds = false;

std::unique_ptr<SqlSession> OpenSqlite(const std::string&, bool, std::string& error) {
    error = "SQLite files are reached through ODBC in this build";
    return nullptr;
}

std::unique_ptr<SqlSession> OpenPostgres(const std::string&, std::string& error) {
    error = "PostgreSQL is reached through ODBC in this build";
    return nullptr;
}
