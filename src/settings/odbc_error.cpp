// SPDX-License-Identifier: Apache-2.0
#include "settings/odbc_error.h"

#include <sqlext.h>

namespace vorlan {

namespace {

// The first few diagnostic records as "STATE: message; ...".
std::string Diagnostics(SQLSMALLINT handleType, SQLHANDLE handle, std::string& firstState) {
    std::string text;
    if (handle == SQL_NULL_HANDLE) return text;
    for (SQLSMALLINT record = 1; record <= 3; ++record) {
        SQLCHAR state[6] = {};
        SQLINTEGER native = 0;
        SQLCHAR message[512] = {};
        SQLSMALLINT length = 0;
        const SQLRETURN rc = SQLGetDiagRec(handleType, handle, record, state, &native, message,
                                           static_cast<SQLSMALLINT>(sizeof message), &length);
        if (!Succeeded(rc)) break;
        const std::string s(reinterpret_cast<const char*>(state));
        if (firstState.empty()) firstState = s;
        if (!text.empty()) text += "; ";
        text += s;
        text += ": ";
        text += reinterpret_cast<const char*>(message);  // SQLGetDiagRec terminates it
    }
    return text;
}

}  // namespace

void CheckOdbc(SQLRETURN rc, SQLSMALLINT handleType, SQLHANDLE handle, const char* action) {
    if (Succeeded(rc) || rc == SQL_NO_DATA) return;
    std::string state;
    std::string what = action;
    const std::string details = Diagnostics(handleType, handle, state);
    if (!details.empty()) what += ": " + details;
    throw OdbcError(what, state);
}

}  // namespace vorlan
