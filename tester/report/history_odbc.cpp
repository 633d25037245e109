// The history through ODBC: whatever database a station's driver reaches
// (SQL Server, PostgreSQL, MySQL, a SQLite file), through the driver
// manager the system has (odbc32.dll on Windows, unixODBC on Linux).
//
// Texts cross the API as UTF-16 (the W functions): the records are UTF-8,
// and the A functions would pass them through the system's code page on
// Windows. The database's kind, as the driver names it, chooses the
// dialect: a SQLite file or a PostgreSQL database reached this way holds
// exactly the tables the sqlite: and postgresql: back ends make.
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/odbc_api.h"
#include "tester/report/sql_session.h"
#include "tester/report/utf8.h"

namespace {

using WideText = std::basic_string<SQLWCHAR>;

// UTF-8 as UTF-16; a byte that starts no UTF-8 sequence is taken as the
// character of its number, as the JSON record takes it.
WideText Wide(const std::string& text) {
    WideText out;
    for (size_t i = 0; i < text.size();) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        const size_t length = c < 0x80           ? 1
                              : (c >> 5) == 0x6  ? 2
                              : (c >> 4) == 0xE  ? 3
                              : (c >> 3) == 0x1E ? 4
                                                 : 0;
        bool whole = length != 0 && i + length <= text.size();
        for (size_t k = 1; whole && k < length; ++k)
            whole = (static_cast<unsigned char>(text[i + k]) & 0xC0) == 0x80;
        if (!whole) {
            out += static_cast<SQLWCHAR>(c);
            ++i;
            continue;
        }
        uint32_t code = length == 1 ? c : c & (0xFF >> (length + 1));
        for (size_t k = 1; k < length; ++k)
            code = (code << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3F);
        if (code >= 0x10000) {
            code -= 0x10000;
            out += static_cast<SQLWCHAR>(0xD800 + (code >> 10));
            out += static_cast<SQLWCHAR>(0xDC00 + (code & 0x3FF));
        } else {
            out += static_cast<SQLWCHAR>(code);
        }
        i += length;
    }
    return out;
}

std::string Narrow(const SQLWCHAR* text, size_t length) {
    std::string out;
    for (size_t i = 0; i < length; ++i) {
        uint32_t code = text[i];
        if (code >= 0xD800 && code <= 0xDBFF && i + 1 < length && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF) {
            code = 0x10000 + ((code - 0xD800) << 10) + (text[i + 1] - 0xDC00u);
            ++i;
        }
        AppendUtf8(code, out);
    }
    return out;
}

// What the driver and the driver manager said about the last call on
// `handle`, each record once.
std::string Diagnostics(SQLSMALLINT type, SQLHANDLE handle) {
    std::string text;
    for (SQLSMALLINT record = 1;; ++record) {
        SQLWCHAR state[6] = {}, message[1024] = {};
        SQLINTEGER native = 0;
        SQLSMALLINT length = 0;
        const SQLRETURN rc = SQLGetDiagRecW(type, handle, record, state, &native, message,
                                            sizeof message / sizeof message[0], &length);
        if (!SQL_SUCCEEDED(rc)) break;
        const size_t shown = length < 1023 ? static_cast<size_t>(length) : 1023;
        text += (text.empty() ? "" : "; ") + Narrow(message, shown) + " (SQLSTATE " +
                Narrow(state, 5) + ")";
    }
    return text.empty() ? "the ODBC driver gave no reason" : text;
}

const SqlDialect& DialectOf(const std::string& dbms) {
    auto names = [&](const char* word) { return dbms.find(word) != std::string::npos; };
    if (names("SQLite")) return SqliteDialect();
    if (names("PostgreSQL")) return PostgresDialect();
    if (names("SQL Server")) return SqlServerDialect();
    if (names("MySQL") || names("MariaDB")) return MysqlDialect();
    return OtherSqlDialect();
}

class OdbcSession : public SqlSession {
  public:
    OdbcSession(SQLHENV env, SQLHDBC dbc, const SqlDialect& dialect)
        : env_(env), dbc_(dbc), dialect_(dialect) {}
    ~OdbcSession() override {
        SQLDisconnect(dbc_);
        SQLFreeHandle(SQL_HANDLE_DBC, dbc_);
        SQLFreeHandle(SQL_HANDLE_ENV, env_);
    }
    const SqlDialect& Dialect() const override { return dialect_; }

    bool Run(const std::string& sql, const std::vector<std::string>& params, SqlRows* rows,
             std::string& error) override {
        SQLHSTMT statement = SQL_NULL_HSTMT;
        if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_STMT, dbc_, &statement))) {
            error = Diagnostics(SQL_HANDLE_DBC, dbc_);
            return false;
        }
        const bool ok = Execute(statement, sql, params, rows, error);
        SQLFreeHandle(SQL_HANDLE_STMT, statement);
        return ok;
    }

    // The dialect's statements where it has them (they worked through the
    // SQLite and PostgreSQL drivers alike, and SQLite needs its IMMEDIATE);
    // the API's manual commit for a database without a common one.
    bool Begin(std::string& error) override {
        if (dialect_.begin) return SqlSession::Begin(error);
        return Autocommit(false, error);
    }
    bool Commit(std::string& error) override {
        if (dialect_.begin) return SqlSession::Commit(error);
        if (!SQL_SUCCEEDED(SQLEndTran(SQL_HANDLE_DBC, dbc_, SQL_COMMIT))) {
            error = Diagnostics(SQL_HANDLE_DBC, dbc_);
            return false;
        }
        return Autocommit(true, error);
    }
    void Rollback() override {
        if (dialect_.begin) return SqlSession::Rollback();
        SQLEndTran(SQL_HANDLE_DBC, dbc_, SQL_ROLLBACK);
        std::string ignored;
        Autocommit(true, ignored);
    }

  private:
    bool Autocommit(bool on, std::string& error) {
        const SQLULEN value = on ? SQL_AUTOCOMMIT_ON : SQL_AUTOCOMMIT_OFF;
        if (SQL_SUCCEEDED(SQLSetConnectAttrW(dbc_, SQL_ATTR_AUTOCOMMIT,
                                             reinterpret_cast<SQLPOINTER>(value), 0)))
            return true;
        error = Diagnostics(SQL_HANDLE_DBC, dbc_);
        return false;
    }

    bool Execute(SQLHSTMT statement, const std::string& sql, const std::vector<std::string>& params,
                 SqlRows* rows, std::string& error) {
        // "$2" as ODBC's "?", each bound to its parameter in the order the
        // markers stand.
        std::string text;
        std::vector<WideText> values;
        for (size_t i = 0; i < sql.size(); ++i) {
            if (sql[i] != '$' || i + 1 >= sql.size() || sql[i + 1] < '1' || sql[i + 1] > '9') {
                text += sql[i];
                continue;
            }
            size_t number = 0;
            while (i + 1 < sql.size() && sql[i + 1] >= '0' && sql[i + 1] <= '9')
                number = number * 10 + static_cast<size_t>(sql[++i] - '0');
            text += '?';
            values.push_back(number >= 1 && number <= params.size() ? Wide(params[number - 1])
                                                                    : WideText());
        }
        std::vector<SQLLEN> lengths(values.size());
        for (size_t p = 0; p < values.size(); ++p) {
            lengths[p] = static_cast<SQLLEN>(values[p].size() * sizeof(SQLWCHAR));
            // A long text (a sweep's checks, many reasons) as a long type:
            // some drivers refuse a plain one past 4000 characters.
            const SQLSMALLINT type = values[p].size() > 2000 ? SQL_WLONGVARCHAR : SQL_WVARCHAR;
            const SQLULEN size = values[p].empty() ? 1 : values[p].size();
            if (!SQL_SUCCEEDED(SQLBindParameter(
                    statement, static_cast<SQLUSMALLINT>(p + 1), SQL_PARAM_INPUT, SQL_C_WCHAR, type,
                    size, 0, const_cast<SQLWCHAR*>(values[p].c_str()), lengths[p], &lengths[p]))) {
                error = Diagnostics(SQL_HANDLE_STMT, statement);
                return false;
            }
        }
        WideText wide = Wide(text);
        const SQLRETURN rc = SQLExecDirectW(statement, const_cast<SQLWCHAR*>(wide.c_str()),
                                            static_cast<SQLINTEGER>(wide.size()));
        if (!SQL_SUCCEEDED(rc) && rc != SQL_NO_DATA) {
            error = Diagnostics(SQL_HANDLE_STMT, statement);
            return false;
        }
        SQLSMALLINT columns = 0;
        if (!rows || !SQL_SUCCEEDED(SQLNumResultCols(statement, &columns)) || columns == 0)
            return true;
        SQLRETURN fetched;
        while (SQL_SUCCEEDED(fetched = SQLFetch(statement))) {
            std::vector<std::string> row;
            for (SQLSMALLINT c = 1; c <= columns; ++c) {
                row.emplace_back();
                if (!Cell(statement, c, row.back(), error)) return false;
            }
            rows->push_back(std::move(row));
        }
        if (fetched != SQL_NO_DATA) {
            error = Diagnostics(SQL_HANDLE_STMT, statement);
            return false;
        }
        return true;
    }

    // One cell as text (NULL as ""), in as many pieces as it takes.
    static bool Cell(SQLHSTMT statement, SQLSMALLINT column, std::string& cell,
                     std::string& error) {
        WideText text;
        SQLWCHAR piece[512];
        for (;;) {
            SQLLEN length = 0;
            const SQLRETURN rc = SQLGetData(statement, static_cast<SQLUSMALLINT>(column),
                                            SQL_C_WCHAR, piece, sizeof piece, &length);
            if (rc == SQL_NO_DATA) break;
            if (!SQL_SUCCEEDED(rc)) {
                error = Diagnostics(SQL_HANDLE_STMT, statement);
                return false;
            }
            if (length == SQL_NULL_DATA) break;
            const size_t room = sizeof piece / sizeof piece[0] - 1;  // the piece's terminator
            const size_t got = length == SQL_NO_TOTAL || length < 0 ||
                                       static_cast<size_t>(length) / sizeof(SQLWCHAR) > room
                                   ? room
                                   : static_cast<size_t>(length) / sizeof(SQLWCHAR);
            text.append(piece, got);
            if (rc == SQL_SUCCESS) break;  // SQL_SUCCESS_WITH_INFO: more to come
        }
        cell = Narrow(text.data(), text.size());
        return true;
    }

    SQLHENV env_;
    SQLHDBC dbc_;
    const SqlDialect& dialect_;
};

}  // namespace

std::unique_ptr<SqlSession> OpenOdbc(const std::string& connection, std::string& error) {
    SQLHENV env = SQL_NULL_HENV;
    if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env))) {
        error = "the ODBC driver manager cannot be used";
        return nullptr;
    }
    SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
    SQLHDBC dbc = SQL_NULL_HDBC;
    if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_DBC, env, &dbc))) {
        error = Diagnostics(SQL_HANDLE_ENV, env);
        SQLFreeHandle(SQL_HANDLE_ENV, env);
        return nullptr;
    }
    // As the other back ends: 10 s to log in, not the driver's own idea.
    SQLSetConnectAttrW(dbc, SQL_ATTR_LOGIN_TIMEOUT, reinterpret_cast<SQLPOINTER>(SQLULEN{10}), 0);
    // The completed connection string the driver could hand back holds the
    // password: it is not asked for.
    WideText text = Wide(connection);
    SQLRETURN rc;
    {
        // A driver may set the process's locale while it connects
        // (PostgreSQL's calls setlocale, which is not thread-safe): two
        // threads of one program that connect at once race in the C
        // library. One connect at a time; the sessions then run side by side.
        static std::mutex connecting;
        std::lock_guard<std::mutex> hold(connecting);
        rc = SQLDriverConnectW(dbc, nullptr, const_cast<SQLWCHAR*>(text.c_str()),
                               static_cast<SQLSMALLINT>(text.size()), nullptr, 0, nullptr,
                               SQL_DRIVER_NOPROMPT);
    }
    if (!SQL_SUCCEEDED(rc)) {
        error = Diagnostics(SQL_HANDLE_DBC, dbc);
        SQLFreeHandle(SQL_HANDLE_DBC, dbc);
        SQLFreeHandle(SQL_HANDLE_ENV, env);
        return nullptr;
    }
    SQLWCHAR name[128] = {};
    SQLSMALLINT length = 0;
    SQLGetInfoW(dbc, SQL_DBMS_NAME, name, sizeof name, &length);
    const size_t chars = static_cast<size_t>(length) / sizeof(SQLWCHAR);
    const std::string dbms = Narrow(name, chars < 127 ? chars : 127);
    auto session = std::make_unique<OdbcSession>(env, dbc, DialectOf(dbms));
    if (&session->Dialect() == &PostgresDialect()) {
        // Notices ("relation already exists, skipping") are not for the
        // operator's terminal.
        std::string ignored;
        session->Run("SET client_min_messages = warning", {}, nullptr, ignored);
    }
    return session;
}
