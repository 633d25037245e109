// The history in a PostgreSQL database: one for a floor of benches.
#include <libpq-fe.h>

#include "tester/report/sql_session.h"

namespace {

// libpq's messages end with a line end (some with two lines).
std::string Trimmed(const char* message) {
    std::string text = message ? message : "";
    while (!text.empty() && (text.back() == '\n' || text.back() == ' '))
        text.pop_back();
    for (char& c : text)
        if (c == '\n') c = ' ';
    return text;
}

class PostgresSession : public SqlSession {
  public:
    explicit PostgresSession(PGconn* connection) : connection_(connection) {}
    ~PostgresSession() override { PQfinish(connection_); }
    const SqlDialect& Dialect() const override { return PostgresDialect(); }

    bool Run(const std::string& sql, const std::vector<std::string>& params, SqlRows* rows,
             std::string& error) override {
        std::vector<const char*> values;
        for (const std::string& param : params)
            values.push_back(param.c_str());
        PGresult* result = PQexecParams(connection_, sql.c_str(), static_cast<int>(values.size()),
                                        nullptr, values.data(), nullptr, nullptr, 0);
        const ExecStatusType status = PQresultStatus(result);
        const bool ok = status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK;
        if (!ok) {
            error = Trimmed(result ? PQresultErrorMessage(result) : PQerrorMessage(connection_));
            if (error.empty()) error = Trimmed(PQerrorMessage(connection_));
        } else if (rows && status == PGRES_TUPLES_OK) {
            for (int r = 0; r < PQntuples(result); ++r) {
                std::vector<std::string> row;
                for (int c = 0; c < PQnfields(result); ++c)
                    row.emplace_back(PQgetvalue(result, r, c));
                rows->push_back(std::move(row));
            }
        }
        PQclear(result);
        return ok;
    }

  private:
    PGconn* connection_;
};

}  // namespace

std::unique_ptr<SqlSession> OpenPostgres(const std::string& conninfo, std::string& error) {
    // The connection string's own keywords come after ours and win.
    const char* keywords[] = {"connect_timeout", "application_name", "dbname", nullptr};
    const char* values[] = {"10", "vesktest", conninfo.c_str(), nullptr};
    PGconn* connection = PQconnectdbParams(keywords, values, 1);
    if (!connection) {
        error = "out of memory";
        return nullptr;
    }
    if (PQstatus(connection) != CONNECTION_OK) {
        error = Trimmed(PQerrorMessage(connection));
        PQfinish(connection);
        return nullptr;
    }
    auto session = std::make_unique<PostgresSession>(connection);
    std::string ignored;
    // Notices ("relation already exists, skipping") are not for the
    // operator's terminal.
    session->Run("SET client_min_messages = warning", {}, nullptr, ignored);
    return session;
}
