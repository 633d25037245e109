// The history database behind a --db URL (run_history.h): "sqlite:PATH", a
// file on the station (made on the first run), "postgresql://..." (a libpq
// URI: user, host or socket folder, port, database, options), a server
// shared by a floor of benches, or "odbc:CONNECTION-STRING", whatever
// database an ODBC driver reaches (SQL Server, PostgreSQL, MySQL, a SQLite
// file). All hold the same tables. sqlite: and postgresql: are built where
// Debian's libsqlite3 and libpq are (Linux); odbc: everywhere (unixODBC,
// odbc32.dll).
#pragma once

#include <memory>
#include <string>

#include "tester/report/run_history.h"

// The version of the tables this program writes; a database of a later
// version is refused (a newer vesktest made it), an older one upgraded.
constexpr int kHistorySchemaVersion = 2;

// The store for `url`. Nothing is opened yet: a URL that is none of the
// forms this build offers gets null and why in `error` (on Windows, the
// words for reaching sqlite: and postgresql: databases through odbc:).
std::unique_ptr<RunHistory> MakeRunHistory(const std::string& url, std::string& error);
