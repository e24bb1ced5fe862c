// SPDX-License-Identifier: Apache-2.0
#include "settings/odbc_handles.h"

#include <sqlext.h>

#include <mutex>

namespace vorlan {

namespace {

// The driver manager keeps the paths and entries of its configuration files
// in unguarded static buffers, filled while an environment is made and while
// a connection is opened; components of one host on several lines do both
// from their own threads, so those calls take turns.
std::mutex& DriverManagerLock() {
    static std::mutex lock;
    return lock;
}

}  // namespace

OdbcEnvironment::OdbcEnvironment() {
    std::lock_guard<std::mutex> hold(DriverManagerLock());
    CheckOdbc(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env_), SQL_HANDLE_ENV,
              SQL_NULL_HANDLE, "allocating the ODBC environment");
    const SQLRETURN rc = SQLSetEnvAttr(env_, SQL_ATTR_ODBC_VERSION,
                                       reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
    if (!Succeeded(rc)) {
        SQLFreeHandle(SQL_HANDLE_ENV, env_);
        env_ = SQL_NULL_HENV;
        throw OdbcError("setting ODBC 3 behaviour", "");
    }
}

OdbcEnvironment::~OdbcEnvironment() {
    std::lock_guard<std::mutex> hold(DriverManagerLock());
    if (env_ != SQL_NULL_HENV) SQLFreeHandle(SQL_HANDLE_ENV, env_);
}

OdbcConnection::OdbcConnection(OdbcEnvironment& env) {
    CheckOdbc(SQLAllocHandle(SQL_HANDLE_DBC, env.handle(), &dbc_), SQL_HANDLE_ENV, env.handle(),
              "allocating an ODBC connection");
}

OdbcConnection::~OdbcConnection() {
    Close();
    if (dbc_ != SQL_NULL_HDBC) SQLFreeHandle(SQL_HANDLE_DBC, dbc_);
}

void OdbcConnection::Open(const std::string& connectText, int loginTimeoutSeconds) {
    // Bounded wait for an unreachable server; some drivers ignore it.
    SQLSetConnectAttr(dbc_, SQL_ATTR_LOGIN_TIMEOUT,
                      reinterpret_cast<SQLPOINTER>(static_cast<intptr_t>(loginTimeoutSeconds)), 0);
    SQLCHAR out[1024] = {};
    SQLSMALLINT outLength = 0;
    std::vector<SQLCHAR> in(connectText.begin(), connectText.end());
    std::lock_guard<std::mutex> hold(DriverManagerLock());
    const SQLRETURN rc = SQLDriverConnect(dbc_, nullptr, in.data(),
                                          static_cast<SQLSMALLINT>(in.size()), out,
                                          static_cast<SQLSMALLINT>(sizeof out), &outLength,
                                          SQL_DRIVER_NOPROMPT);
    CheckOdbc(rc, SQL_HANDLE_DBC, dbc_, "connecting to the setting database");
    open_ = true;
}

void OdbcConnection::Close() {
    if (!open_) return;
    SQLDisconnect(dbc_);
    open_ = false;
}

std::string OdbcConnection::IdentifierQuote() {
    SQLCHAR quote[8] = {};
    SQLSMALLINT length = 0;
    CheckOdbc(SQLGetInfo(dbc_, SQL_IDENTIFIER_QUOTE_CHAR, quote, static_cast<SQLSMALLINT>(sizeof quote),
                         &length),
              SQL_HANDLE_DBC, dbc_, "asking for the identifier quote");
    std::string q(reinterpret_cast<const char*>(quote));
    if (q == " ") q.clear();  // a space means identifiers can't be quoted
    return q;
}

void OdbcConnection::SetAutoCommit(bool on) {
    const SQLULEN mode = on ? SQL_AUTOCOMMIT_ON : SQL_AUTOCOMMIT_OFF;
    CheckOdbc(SQLSetConnectAttr(dbc_, SQL_ATTR_AUTOCOMMIT, reinterpret_cast<SQLPOINTER>(mode), 0),
              SQL_HANDLE_DBC, dbc_, "switching autocommit");
}

void OdbcConnection::EndTransaction(bool commit) {
    CheckOdbc(SQLEndTran(SQL_HANDLE_DBC, dbc_, commit ? SQL_COMMIT : SQL_ROLLBACK), SQL_HANDLE_DBC,
              dbc_, commit ? "committing" : "rolling back");
}

OdbcTransaction::OdbcTransaction(OdbcConnection& db) : db_(db) { db_.SetAutoCommit(false); }

OdbcTransaction::~OdbcTransaction() {
    if (!done_) SQLEndTran(SQL_HANDLE_DBC, db_.handle(), SQL_ROLLBACK);  // best effort
    SQLSetConnectAttr(db_.handle(), SQL_ATTR_AUTOCOMMIT,
                      reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(SQL_AUTOCOMMIT_ON)), 0);
}

void OdbcTransaction::Commit() {
    db_.EndTransaction(true);
    done_ = true;
}

OdbcStatement::OdbcStatement(OdbcConnection& db) {
    CheckOdbc(SQLAllocHandle(SQL_HANDLE_STMT, db.handle(), &stmt_), SQL_HANDLE_DBC, db.handle(),
              "allocating a statement");
}

OdbcStatement::~OdbcStatement() {
    if (stmt_ != SQL_NULL_HSTMT) SQLFreeHandle(SQL_HANDLE_STMT, stmt_);
}

void OdbcStatement::Prepare(const std::string& sql) {
    SQLFreeStmt(stmt_, SQL_CLOSE);
    sql_ = sql;
    std::vector<SQLCHAR> text(sql.begin(), sql.end());
    CheckOdbc(SQLPrepare(stmt_, text.data(), static_cast<SQLINTEGER>(text.size())),
              SQL_HANDLE_STMT, stmt_, "preparing a statement");
}

void OdbcStatement::Execute(const std::vector<SqlValue>& params) {
    SQLFreeStmt(stmt_, SQL_CLOSE);
    SQLFreeStmt(stmt_, SQL_RESET_PARAMS);
    bound_ = params;
    indicators_.assign(bound_.size(), 0);
    for (size_t i = 0; i < bound_.size(); ++i) {
        SqlValue& v = bound_[i];
        SQLLEN& indicator = indicators_[i];
        const auto number = static_cast<SQLUSMALLINT>(i + 1);
        SQLRETURN rc = SQL_SUCCESS;
        switch (v.type) {
        case SqlValue::Type::Integer:
            rc = SQLBindParameter(stmt_, number, SQL_PARAM_INPUT, SQL_C_SBIGINT, SQL_BIGINT, 0, 0,
                                  &v.integer, 0, &indicator);
            break;
        case SqlValue::Type::Real:
            rc = SQLBindParameter(stmt_, number, SQL_PARAM_INPUT, SQL_C_DOUBLE, SQL_DOUBLE, 0, 0,
                                  &v.real, 0, &indicator);
            break;
        case SqlValue::Type::Text:
            indicator = static_cast<SQLLEN>(v.text.size());
            rc = SQLBindParameter(stmt_, number, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_VARCHAR,
                                  v.text.empty() ? 1 : v.text.size(), 0,
                                  const_cast<char*>(v.text.data()), indicator, &indicator);
            break;
        case SqlValue::Type::Null:
            indicator = SQL_NULL_DATA;
            rc = SQLBindParameter(stmt_, number, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_VARCHAR, 1, 0,
                                  nullptr, 0, &indicator);
            break;
        }
        CheckOdbc(rc, SQL_HANDLE_STMT, stmt_, "binding a parameter");
    }
    CheckOdbc(SQLExecute(stmt_), SQL_HANDLE_STMT, stmt_, "executing a statement");
}

bool OdbcStatement::Fetch() {
    const SQLRETURN rc = SQLFetch(stmt_);
    if (rc == SQL_NO_DATA) return false;
    CheckOdbc(rc, SQL_HANDLE_STMT, stmt_, "fetching a row");
    return true;
}

SqlValue OdbcStatement::Get(SQLUSMALLINT column, SqlValue::Type as) {
    SqlValue v;
    SQLLEN indicator = 0;
    switch (as) {
    case SqlValue::Type::Integer: {
        SQLBIGINT n = 0;
        CheckOdbc(SQLGetData(stmt_, column, SQL_C_SBIGINT, &n, sizeof n, &indicator),
                  SQL_HANDLE_STMT, stmt_, "reading an integer column");
        if (indicator != SQL_NULL_DATA) v = SqlValue::Integer(n);
        break;
    }
    case SqlValue::Type::Real: {
        double d = 0.0;
        CheckOdbc(SQLGetData(stmt_, column, SQL_C_DOUBLE, &d, sizeof d, &indicator),
                  SQL_HANDLE_STMT, stmt_, "reading a float column");
        if (indicator != SQL_NULL_DATA) v = SqlValue::Real(d);
        break;
    }
    case SqlValue::Type::Text:
    case SqlValue::Type::Null: {
        // Texts come in pieces as long as the driver reports truncation.
        std::string text;
        char chunk[512];
        for (;;) {
            const SQLRETURN rc = SQLGetData(stmt_, column, SQL_C_CHAR, chunk, sizeof chunk, &indicator);
            if (rc == SQL_NO_DATA) break;
            CheckOdbc(rc, SQL_HANDLE_STMT, stmt_, "reading a text column");
            if (indicator == SQL_NULL_DATA) return v;
            // The piece is what fits before the terminating zero.
            size_t piece = sizeof chunk - 1;
            if (indicator != SQL_NO_TOTAL && static_cast<size_t>(indicator) < piece) {
                piece = static_cast<size_t>(indicator);
            }
            text.append(chunk, piece);
            if (rc == SQL_SUCCESS) break;
        }
        v = SqlValue::Text(std::move(text));
        break;
    }
    }
    return v;
}

void OdbcStatement::CloseCursor() { SQLFreeStmt(stmt_, SQL_CLOSE); }

int OdbcStatement::ColumnCount() {
    SQLSMALLINT columns = 0;
    CheckOdbc(SQLNumResultCols(stmt_, &columns), SQL_HANDLE_STMT, stmt_, "counting result columns");
    return columns;
}

int64_t OdbcStatement::RowCount() {
    SQLLEN rows = 0;
    CheckOdbc(SQLRowCount(stmt_, &rows), SQL_HANDLE_STMT, stmt_, "counting changed rows");
    return rows;
}

}  // namespace vorlan
