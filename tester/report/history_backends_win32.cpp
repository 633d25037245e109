// The Windows builds have no SQLite or PostgreSQL client library of their
// own (they import nothing but the system's DLLs): those back ends are
// Linux's. The run's records on Windows are its JSON and JUnit files.
#include "tester/report/sql_session.h"

std::string BackEndMissing(const std::string& scheme) {
    if (scheme == "sqlite")
        return "--db sqlite: is the Linux vesktest's embedded store and is not built into "
               "vesktest.exe; keep the run's records with --json and --junit";
    if (scheme == "postgresql")
        return "--db postgresql:// goes through Linux's libpq and is not built into "
               "vesktest.exe; keep the run's records with --json and --junit";
    return "";
}

// Never reached: MakeRunHistory asks BackEndMissing first.
std::unique_ptr<SqlSession> OpenSqlite(const std::string&, bool, std::string& error) {
    error = BackEndMissing("sqlite");
    return nullptr;
}

std::unique_ptr<SqlSession> OpenPostgres(const std::string&, std::string& error) {
    error = BackEndMissing("postgresql");
    return nullptr;
}
