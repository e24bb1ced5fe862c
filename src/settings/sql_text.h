// SPDX-License-Identifier: Apache-2.0
#pragma once
// The SQL texts a recordset runs. Table and column names come in already
// quoted; values never appear in the text: every value is a "?" marker,
// bound by the caller in the order the markers stand.

#include <string>
#include <vector>

namespace vorlan {

// Replaces "[name]" by the name in `quote` characters (or bare when empty).
std::string QuoteBracketedNames(const std::string& text, const std::string& quote);

// "SELECT c1, c2 FROM table", with " WHERE filter" and " ORDER BY sort" when
// they are not empty (the caller quotes their bracketed names).
std::string SelectSql(const std::vector<std::string>& columns, const std::string& table,
                      const std::string& filter, const std::string& sort);

// "INSERT INTO table (c1, c2) VALUES (?, ?)".
std::string InsertSql(const std::vector<std::string>& columns, const std::string& table);

// "UPDATE table SET c1 = ?, c2 = ? WHERE condition".
std::string UpdateSql(const std::vector<std::string>& columns, const std::string& table,
                      const std::string& condition);

// "DELETE FROM table", with " WHERE filter" when it is not empty.
std::string DeleteFilteredSql(const std::string& table, const std::string& filter);


// How one column of a row is matched: NULL, a value within a window
// (two markers: low, high), or an exact value (one marker).
enum class ColumnMatch { IsNull, Within, Equal };

// The terms that find a row, joined by AND: "c IS NULL", "c BETWEEN ? AND ?",
// "c = ?"; one match per column.
std::string RowConditionSql(const std::vector<std::string>& columns, const std::vector<ColumnMatch>& matches);

}  // namespace vorlan
