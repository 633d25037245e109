// The history in a SQLite file: the station's own database, no server.
#include <sqlite3.h>

#include "tester/report/sql_session.h"

namespace {

class SqliteSession : public SqlSession {
  public:
    explicit SqliteSession(sqlite3* db) : db_(db) {}
    ~SqliteSession() override { sqlite3_close(db_); }
    const SqlDialect& Dialect() const override { return SqliteDialect(); }

    bool Run(const std::string& sql, const std::vector<std::string>& params, SqlRows* rows,
             std::string& error) override {
        // "$1" is a named parameter to SQLite; "?1" is the numbered one.
        std::string text = sql;
        for (char& c : text)
            if (c == '$') c = '?';
        sqlite3_stmt* statement = nullptr;
        if (sqlite3_prepare_v2(db_, text.c_str(), -1, &statement, nullptr) != SQLITE_OK) {
            error = sqlite3_errmsg(db_);
            return false;
        }
        for (size_t i = 0; i < params.size(); ++i)
            sqlite3_bind_text(statement, static_cast<int>(i + 1), params[i].c_str(),
                              static_cast<int>(params[i].size()), SQLITE_TRANSIENT);
        int step;
        while ((step = sqlite3_step(statement)) == SQLITE_ROW) {
            if (!rows) continue;
            std::vector<std::string> row;
            for (int c = 0; c < sqlite3_column_count(statement); ++c) {
                const unsigned char* value = sqlite3_column_text(statement, c);
                row.emplace_back(value ? reinterpret_cast<const char*>(value) : "");
            }
            rows->push_back(std::move(row));
        }
        const bool ok = step == SQLITE_DONE;
        if (!ok) error = sqlite3_errmsg(db_);
        sqlite3_finalize(statement);
        return ok;
    }

  private:
    sqlite3* db_;
};

}  // namespace

std::unique_ptr<SqlSession> OpenSqlite(const std::string& path, bool create, std::string& error) {
    sqlite3* db = nullptr;
    const int flags = SQLITE_OPEN_READWRITE | (create ? SQLITE_OPEN_CREATE : 0);
    if (sqlite3_open_v2(path.c_str(), &db, flags, nullptr) != SQLITE_OK) {
        error = db ? sqlite3_errmsg(db) : "out of memory";
        sqlite3_close(db);
        return nullptr;
    }
    // A file the user may read but not write opens all the same, read
    // only; a writer learns it now rather than at its first write.
    if (create && sqlite3_db_readonly(db, "main") == 1) {
        error = "attempt to write a readonly database";
        sqlite3_close(db);
        return nullptr;
    }
    sqlite3_busy_timeout(db, 10000);
    sqlite3_extended_result_codes(db, 0);
    auto session = std::make_unique<SqliteSession>(db);
    std::string ignored;
    // The ports' rows go with their run when a run is deleted.
    session->Run("PRAGMA foreign_keys = ON", {}, nullptr, ignored);
    return session;
}
