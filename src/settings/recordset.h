// SPDX-License-Identifier: Apache-2.0
#pragma once
// A recordset on one table of the setting database: the bound columns of a
// derived class, a filter and a sort text, requery, a walk over the rows,
// reading a column as text, edit, add-new, update and delete.
//
// A requery reads the whole result into memory (a snapshot); the walk and the
// changes work on that copy. The tables declare no key, so an update or a
// delete addresses the current row by all its bound values as they were read.
// Names in brackets ("[RelayName]", "[group]") in the table, filter and sort
// texts become the data source's quoted identifiers; values always travel as
// bound parameters.

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "settings/field_binding.h"
#include "settings/odbc_handles.h"
#include "settings/sql_text.h"

namespace vorlan {

class Recordset {
public:
    explicit Recordset(OdbcConnection& db);
    virtual ~Recordset();
    Recordset(const Recordset&) = delete;
    Recordset& operator=(const Recordset&) = delete;

    // Checks that the table and the bound columns exist (no rows are read).
    void Open();
    bool IsOpen() const { return open_; }
    void Close();

    // The filter (WHERE) and sort (ORDER BY) texts; "?" markers in the filter
    // take `params` in order. They take effect at the next Requery.
    void SetFilter(std::string filter, std::vector<SqlValue> params = {});
    void SetSort(std::string sort) { sort_ = std::move(sort); }

    // Runs the query and keeps its rows; positions on the first one.
    bool Requery();
    bool IsEOF() const { return row_ >= rows_.size(); }
    bool HasRows() const { return !rows_.empty(); }
    void MoveFirst();
    void MoveNext();

    // The current row's value of `bareName` as text ("" for NULL); throws
    // for a name that is not bound.
    std::string GetFieldText(const char* bareName) const;
    // False when the current row's value of `bareName` is NULL or doesn't fit
    // its member (the member then holds 0).
    bool HasValue(const char* bareName) const;

    // Edit the current row, or AddNew a row, set the members, then Update.
    void Edit();
    void AddNew();
    // Writes the changed members (edit) or all members (add-new). A member
    // still equal to what was read is not written, unless marked dirty.
    // False when an edit found no row to change: the row is no longer as it
    // was read (changed by another client, or an exact duplicate of a row
    // this update already changed with it). Database errors throw.
    bool Update();
    void SetFieldDirty(const char* bareName) { forced_[ColumnIndex(bareName)] = true; }
    // Deletes every row the filter selects, at once.
    void DeleteFiltered();

protected:
    virtual std::string GetDefaultSQL() const = 0;  // the bracketed table name
    virtual void DoFieldExchange(FieldExchange& fx) = 0;

private:
    enum class Mode { None, Edit, AddNew };
    using Row = std::vector<SqlValue>;

    size_t ColumnIndex(const char* bareName) const;
    OdbcStatement& Cached(const std::string& key, const std::string& sql);
    void LoadMembers();
    void ResetMembers();
    // The terms (NULL-aware) that find `row`, with their values.
    std::string RowCondition(const Row& row, std::vector<SqlValue>& params) const;
    std::string Table() const;

    OdbcConnection& db_;
    std::string quote_;
    std::vector<FieldExchange::Binding> fields_;
    std::vector<std::string> columns_;  // the fields' names, quoted
    std::vector<bool> usable_;      // per column of the current row: not NULL, fits
    std::vector<SqlValue> loaded_;  // the members as loaded, to see what an edit changed
    std::vector<bool> forced_;      // per column: written by the next update
    std::string filter_;
    std::vector<SqlValue> filterParams_;
    std::string sort_;
    std::vector<Row> rows_;
    size_t row_ = 0;
    Mode mode_ = Mode::None;
    bool open_ = false;
    std::map<std::string, std::unique_ptr<OdbcStatement>> statements_;
};

}  // namespace vorlan
