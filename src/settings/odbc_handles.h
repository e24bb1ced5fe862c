// SPDX-License-Identifier: Apache-2.0
#pragma once
// The ODBC C API in small owning wrappers: environment, connection (with a
// transaction guard) and statement. Every failure throws OdbcError.

#include <sql.h>

#include <cstdint>
#include <string>
#include <vector>

#include "settings/odbc_error.h"

namespace vorlan {

// One value going to or coming from the database.
struct SqlValue {
    enum class Type { Null, Integer, Real, Text };
    Type type = Type::Null;
    int64_t integer = 0;
    double real = 0.0;
    std::string text;

    static SqlValue Null() { return {}; }
    static SqlValue Integer(int64_t v) { SqlValue s; s.type = Type::Integer; s.integer = v; return s; }
    static SqlValue Real(double v) { SqlValue s; s.type = Type::Real; s.real = v; return s; }
    static SqlValue Text(std::string v) {
        SqlValue s;
        s.type = Type::Text;
        s.text = std::move(v);
        return s;
    }
    bool IsNull() const { return type == Type::Null; }
};

class OdbcEnvironment {
public:
    OdbcEnvironment();  // ODBC 3 behaviour
    ~OdbcEnvironment();
    OdbcEnvironment(const OdbcEnvironment&) = delete;
    OdbcEnvironment& operator=(const OdbcEnvironment&) = delete;
    SQLHENV handle() const { return env_; }

private:
    SQLHENV env_ = SQL_NULL_HENV;
};

class OdbcConnection {
public:
    explicit OdbcConnection(OdbcEnvironment& env);
    ~OdbcConnection();  // disconnects when open
    OdbcConnection(const OdbcConnection&) = delete;
    OdbcConnection& operator=(const OdbcConnection&) = delete;

    // Connects with a connection text such as "DSN=rldb;", never prompting.
    void Open(const std::string& connectText, int loginTimeoutSeconds);
    bool IsOpen() const { return open_; }
    void Close();

    // The data source's identifier quote character ("\"" usually); empty
    // when it doesn't quote identifiers.
    std::string IdentifierQuote();
    void SetAutoCommit(bool on);
    void EndTransaction(bool commit);
    SQLHDBC handle() const { return dbc_; }

private:
    SQLHDBC dbc_ = SQL_NULL_HDBC;
    bool open_ = false;
};

// Work between construction and Commit() is one transaction; without a
// commit it is rolled back. Autocommit is on again afterwards either way.
class OdbcTransaction {
public:
    explicit OdbcTransaction(OdbcConnection& db);
    ~OdbcTransaction();
    OdbcTransaction(const OdbcTransaction&) = delete;
    OdbcTransaction& operator=(const OdbcTransaction&) = delete;
    void Commit();

private:
    OdbcConnection& db_;
    bool done_ = false;
};

class OdbcStatement {
public:
    explicit OdbcStatement(OdbcConnection& db);
    ~OdbcStatement();
    OdbcStatement(const OdbcStatement&) = delete;
    OdbcStatement& operator=(const OdbcStatement&) = delete;

    void Prepare(const std::string& sql);
    const std::string& Sql() const { return sql_; }
    // Binds `params` to the markers in order and executes the prepared text.
    void Execute(const std::vector<SqlValue>& params);
    // Advances to the next row of the result; false after the last one.
    bool Fetch();
    // Column `column` (1-based) of the fetched row, read as `as` (Null if NULL).
    SqlValue Get(SQLUSMALLINT column, SqlValue::Type as);
    void CloseCursor();
    // Columns of the executed query's result.
    int ColumnCount();
    // Rows changed by the last UPDATE, INSERT or DELETE.
    int64_t RowCount();

private:
    SQLHSTMT stmt_ = SQL_NULL_HSTMT;
    std::string sql_;
    std::vector<SqlValue> bound_;      // the parameter values while executing
    std::vector<SQLLEN> indicators_;
};

}  // namespace vorlan
