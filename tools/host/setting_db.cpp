// SPDX-License-Identifier: Apache-2.0
#include "setting_db.h"

#include <sql.h>
#include <sqlext.h>

#include <cstring>
#include <memory>

namespace vorlan_host {

namespace {

bool Ok(SQLRETURN r) { return r == SQL_SUCCESS || r == SQL_SUCCESS_WITH_INFO; }

struct Statement {
    SQLHSTMT handle = SQL_NULL_HSTMT;
    explicit Statement(SQLHDBC dbc) { SQLAllocHandle(SQL_HANDLE_STMT, dbc, &handle); }
    ~Statement() {
        if (handle != SQL_NULL_HSTMT) SQLFreeHandle(SQL_HANDLE_STMT, handle);
    }
};

std::string Column(SQLHSTMT s, SQLUSMALLINT n) {
    char text[512];
    SQLLEN size = 0;
    if (!Ok(SQLGetData(s, n, SQL_C_CHAR, text, sizeof text, &size)) || size == SQL_NULL_DATA) return {};
    return std::string(text, std::min<size_t>(static_cast<size_t>(size < 0 ? 0 : size), sizeof text - 1));
}

double Number(SQLHSTMT s, SQLUSMALLINT n) {
    double v = 0;
    SQLLEN size = 0;
    if (!Ok(SQLGetData(s, n, SQL_C_DOUBLE, &v, sizeof v, &size)) || size == SQL_NULL_DATA) return 0;
    return v;
}

}  // namespace

SettingDb::SettingDb() = default;

SettingDb::~SettingDb() {
    if (connected_) SQLDisconnect(dbc_);
    if (dbc_) SQLFreeHandle(SQL_HANDLE_DBC, dbc_);
    if (env_) SQLFreeHandle(SQL_HANDLE_ENV, env_);
}

std::string SettingDb::Error(const char* what, short handleType, void* handle) const {
    SQLCHAR state[6] = {}, message[512] = {};
    SQLINTEGER native = 0;
    SQLSMALLINT size = 0;
    std::string text = what;
    if (handle && Ok(SQLGetDiagRec(handleType, handle, 1, state, &native, message, sizeof message, &size))) {
        text += ": ";
        text += reinterpret_cast<char*>(message);
    }
    return text;
}

std::string SettingDb::Connect(const std::string& dsn) {
    if (!Ok(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env_))) return "ODBC is not usable";
    SQLSetEnvAttr(env_, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
    if (!Ok(SQLAllocHandle(SQL_HANDLE_DBC, env_, &dbc_))) return "ODBC is not usable";
    const std::string text = "DSN=" + dsn + ";";
    SQLCHAR out[1024];
    SQLSMALLINT outSize = 0;
    const SQLRETURN r = SQLDriverConnect(dbc_, nullptr, (SQLCHAR*)text.c_str(), SQL_NTS, out, sizeof out, &outSize,
                                         SQL_DRIVER_NOPROMPT);
    if (!Ok(r)) return Error(("can't connect to the setting database \"" + dsn + "\"").c_str(), SQL_HANDLE_DBC, dbc_);
    connected_ = true;
    char quote[8] = {};
    SQLSMALLINT qsize = 0;
    if (Ok(SQLGetInfo(dbc_, SQL_IDENTIFIER_QUOTE_CHAR, quote, sizeof quote, &qsize)) && quote[0] != ' ' && quote[0]) {
        quote_ = quote;
    }
    return {};
}

std::string SettingDb::Quote(const std::string& name) const { return quote_ + name + quote_; }

std::string SettingDb::Load(int type, std::vector<SettingRow>& rows) {
    rows.clear();
    SQLINTEGER key = type;
    {
        Statement s(dbc_);
        const std::string sql = "SELECT " + Quote("code") + ", " + Quote("name") + ", " + Quote("value") + ", " +
                                Quote("flag") + " FROM " + Quote("RelayDevSet") + " WHERE " + Quote("type") +
                                " = ? AND " + Quote("group") + " = 2 ORDER BY " + Quote("code");
        SQLBindParameter(s.handle, 1, SQL_PARAM_INPUT, SQL_C_SLONG, SQL_INTEGER, 0, 0, &key, 0, nullptr);
        if (!Ok(SQLExecDirect(s.handle, (SQLCHAR*)sql.c_str(), SQL_NTS))) {
            return Error("reading [RelayDevSet] failed", SQL_HANDLE_STMT, s.handle);
        }
        while (Ok(SQLFetch(s.handle))) {
            SettingRow row;
            row.coded = true;
            row.id = static_cast<int>(Number(s.handle, 1));
            row.name = Column(s.handle, 2);
            row.value = Number(s.handle, 3);
            row.flag = static_cast<int>(Number(s.handle, 4));
            rows.push_back(row);
        }
    }
    if (!rows.empty()) return {};
    Statement s(dbc_);
    const std::string sql = "SELECT " + Quote("RelayType") + ", " + Quote("RelayID") + ", " + Quote("RelayName") +
                            ", " + Quote("Value") + " FROM " + Quote("RelayName") + " WHERE " + Quote("RtuType") +
                            " = ? AND " + Quote("RelayType") + " IN (1, 2) ORDER BY " + Quote("RelayType") + ", " +
                            Quote("RelayID");
    SQLBindParameter(s.handle, 1, SQL_PARAM_INPUT, SQL_C_SLONG, SQL_INTEGER, 0, 0, &key, 0, nullptr);
    if (!Ok(SQLExecDirect(s.handle, (SQLCHAR*)sql.c_str(), SQL_NTS))) {
        return Error("reading [RelayName] failed", SQL_HANDLE_STMT, s.handle);
    }
    while (Ok(SQLFetch(s.handle))) {
        SettingRow row;
        row.coded = false;
        row.kind = static_cast<int>(Number(s.handle, 1));
        row.id = static_cast<int>(Number(s.handle, 2));
        row.name = Column(s.handle, 3);
        row.value = Number(s.handle, 4);
        rows.push_back(row);
    }
    return {};
}

std::string SettingDb::Update(int type, const SettingRow& row) {
    Statement s(dbc_);
    SQLINTEGER key = type, id = row.id, kind = row.kind, flag = row.flag;
    SQLREAL value = static_cast<SQLREAL>(row.value);
    std::string sql;
    if (row.coded) {
        sql = "UPDATE " + Quote("RelayDevSet") + " SET " + Quote("value") + " = ?, " + Quote("flag") + " = ? WHERE " +
              Quote("type") + " = ? AND " + Quote("group") + " = 2 AND " + Quote("code") + " = ?";
        SQLBindParameter(s.handle, 1, SQL_PARAM_INPUT, SQL_C_FLOAT, SQL_REAL, 0, 0, &value, 0, nullptr);
        SQLBindParameter(s.handle, 2, SQL_PARAM_INPUT, SQL_C_SLONG, SQL_INTEGER, 0, 0, &flag, 0, nullptr);
        SQLBindParameter(s.handle, 3, SQL_PARAM_INPUT, SQL_C_SLONG, SQL_INTEGER, 0, 0, &key, 0, nullptr);
        SQLBindParameter(s.handle, 4, SQL_PARAM_INPUT, SQL_C_SLONG, SQL_INTEGER, 0, 0, &id, 0, nullptr);
    } else {
        sql = "UPDATE " + Quote("RelayName") + " SET " + Quote("Value") + " = ? WHERE " + Quote("RtuType") +
              " = ? AND " + Quote("RelayType") + " = ? AND " + Quote("RelayID") + " = ?";
        SQLBindParameter(s.handle, 1, SQL_PARAM_INPUT, SQL_C_FLOAT, SQL_REAL, 0, 0, &value, 0, nullptr);
        SQLBindParameter(s.handle, 2, SQL_PARAM_INPUT, SQL_C_SLONG, SQL_INTEGER, 0, 0, &key, 0, nullptr);
        SQLBindParameter(s.handle, 3, SQL_PARAM_INPUT, SQL_C_SLONG, SQL_INTEGER, 0, 0, &kind, 0, nullptr);
        SQLBindParameter(s.handle, 4, SQL_PARAM_INPUT, SQL_C_SLONG, SQL_INTEGER, 0, 0, &id, 0, nullptr);
    }
    if (!Ok(SQLExecDirect(s.handle, (SQLCHAR*)sql.c_str(), SQL_NTS))) {
        return Error("storing the edit failed", SQL_HANDLE_STMT, s.handle);
    }
    return {};
}

}  // namespace vorlan_host
