// The history database behind a --db URL (run_history.h): "sqlite:PATH", a
// file on the station (made on the first run), or "postgresql://..." (a
// libpq URI: user, host or socket folder, port, database, options), a
// server shared by a floor of benches. Both hold the same tables. Linux
// only, where Debian's libsqlite3 and libpq are.
#pragma once

#include <memory>
#include <string>

#include "tester/report/run_history.h"

// The version of the tables this program writes; a database of a later
// version is refused (a newer vesktest made it), an older one upgraded.
constexpr int kHistorySchemaVersion = 1;

// The store for `url`. Nothing is opened yet: a URL that is none of the
// two forms gets null and why in `error`.
std::unique_ptr<RunHistory> MakeRunHistory(const std::string& url, std::string& error);
