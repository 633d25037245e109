// The Windows builds have no SQLite or PostgreSQL client library of their
// own (they import nothing but the system's DLLs): those back ends are
// Linux's. The same databases are reached through ODBC (odbc32.dll, a
// system DLL) and their ODBC drivers.
#include "tester/report/sql_session.h"

std::string BackEndMissing(const std::string& scheme) {
    if (scheme == "sqlite")
        return "--db sqlite: is the Linux vesktest's embedded store and is not built into "
               "vesktest.exe; reach the SQLite file through its ODBC driver: "
               "odbc:Driver={SQLite3 ODBC Driver};Database=FILE";
    if (scheme == "postgresql")
        return "--db postgresql:// goes through Linux's libpq and is not built into "
               "vesktest.exe; reach the server through its ODBC driver: "
               "odbc:Driver={PostgreSQL Unicode};Server=HOST;Database=DATABASE;Uid=USER";
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
