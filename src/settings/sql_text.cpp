// SPDX-License-Identifier: Apache-2.0
#include "settings/sql_text.h"

namespace vorlan {

namespace {

std::string ColumnList(const std::vector<std::string>& columns, const char* after) {
    std::string text;
    for (size_t i = 0; i < columns.size(); ++i) text += (i ? ", " : "") + columns[i] + after;
    return text;
}

}  // namespace

std::string QuoteBracketedNames(const std::string& text, const std::string& quote) {
    std::string out;
    out.reserve(text.size());
    size_t i = 0;
    while (i < text.size()) {
        const size_t open = text.find('[', i);
        if (open == std::string::npos) break;
        const size_t close = text.find(']', open + 1);
        if (close == std::string::npos) break;
        out.append(text, i, open - i);
        out += quote;
        out.append(text, open + 1, close - open - 1);
        out += quote;
        i = close + 1;
    }
    out.append(text, i, std::string::npos);
    return out;
}

std::string SelectSql(const std::vector<std::string>& columns, const std::string& table,
                      const std::string& filter, const std::string& sort) {
    std::string sql = "SELECT " + ColumnList(columns, "") + " FROM " + table;
    if (!filter.empty()) sql += " WHERE " + filter;
    if (!sort.empty()) sql += " ORDER BY " + sort;
    return sql;
}

std::string InsertSql(const std::vector<std::string>& columns, const std::string& table) {
    std::string markers;
    for (size_t i = 0; i < columns.size(); ++i) markers += i ? ", ?" : "?";
    return "INSERT INTO " + table + " (" + ColumnList(columns, "") + ") VALUES (" + markers + ")";
}

std::string UpdateSql(const std::vector<std::string>& columns, const std::string& table,
                      const std::string& condition) {
    return "UPDATE " + table + " SET " + ColumnList(columns, " = ?") + " WHERE " + condition;
}

std::string DeleteFilteredSql(const std::string& table, const std::string& filter) {
    std::string sql = "DELETE FROM " + table;
    if (!filter.empty()) sql += " WHERE " + filter;
    return sql;
}

std::string RowConditionSql(const std::vector<std::string>& columns, const std::vector<ColumnMatch>& matches) {
    std::string where;
    for (size_t i = 0; i < columns.size() && i < matches.size(); ++i) {
        if (i) where += " AND ";
        switch (matches[i]) {
        case ColumnMatch::IsNull: where += columns[i] + " IS NULL"; break;
        case ColumnMatch::Within: where += columns[i] + " BETWEEN ? AND ?"; break;
        case ColumnMatch::Equal: where += columns[i] + " = ?"; break;
        }
    }
    return where;
}

}  // namespace vorlan
