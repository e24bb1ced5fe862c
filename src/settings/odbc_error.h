// SPDX-License-Identifier: Apache-2.0
#pragma once
// A database error: what failed and the data source's diagnostics for it.

#include <sql.h>

#include <stdexcept>
#include <string>

namespace vorlan {

class OdbcError : public std::runtime_error {
public:
    OdbcError(const std::string& what, std::string sqlState)
        : std::runtime_error(what), sqlState_(std::move(sqlState)) {}
    // Five-character SQLSTATE of the first diagnostic record, empty if none.
    const std::string& SqlState() const { return sqlState_; }

private:
    std::string sqlState_;
};

inline bool Succeeded(SQLRETURN rc) { return rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO; }

// Throws OdbcError for a failed `rc`, with the diagnostics of `handle`.
void CheckOdbc(SQLRETURN rc, SQLSMALLINT handleType, SQLHANDLE handle, const char* action);

}  // namespace vorlan
