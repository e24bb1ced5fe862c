// SPDX-License-Identifier: Apache-2.0
#include "settings/recordset.h"

#include <cmath>
#include <cstdio>

namespace vorlan {

namespace {

// Relative width of the window in which a float column matches the value read
// from it: drivers pass floats through text of limited precision, so the
// stored value and the value read can differ in the last digits.
constexpr double kFloatMatchTolerance = 1e-6;

}  // namespace

Recordset::Recordset(OdbcConnection& db) : db_(db) {}

Recordset::~Recordset() = default;

std::string Recordset::Table() const { return QuoteBracketedNames(GetDefaultSQL(), quote_); }

void Recordset::Open() {
    if (open_) return;
    FieldExchange fx;
    DoFieldExchange(fx);
    fields_ = std::move(fx.bindings());
    quote_ = db_.IdentifierQuote();
    columns_.clear();
    for (const auto& f : fields_) columns_.push_back(quote_ + f.name + quote_);
    // A query that reads nothing still fails for a missing table or column.
    OdbcStatement probe(db_);
    probe.Prepare(SelectSql(columns_, Table(), "1 = 0", ""));
    probe.Execute({});
    probe.CloseCursor();
    open_ = true;
    LoadMembers();
}

void Recordset::Close() {
    statements_.clear();
    rows_.clear();
    row_ = 0;
    mode_ = Mode::None;
    open_ = false;
}

void Recordset::SetFilter(std::string filter, std::vector<SqlValue> params) {
    filter_ = std::move(filter);
    filterParams_ = std::move(params);
}

OdbcStatement& Recordset::Cached(const std::string& key, const std::string& sql) {
    auto it = statements_.find(key);
    if (it == statements_.end()) {
        auto stmt = std::make_unique<OdbcStatement>(db_);
        stmt->Prepare(sql);
        it = statements_.emplace(key, std::move(stmt)).first;
    }
    return *it->second;
}

bool Recordset::Requery() {
    if (!open_) throw OdbcError("recordset not open", "");
    const std::string sql =
        SelectSql(columns_, Table(), QuoteBracketedNames(filter_, quote_), QuoteBracketedNames(sort_, quote_));

    rows_.clear();
    row_ = 0;
    mode_ = Mode::None;
    OdbcStatement& stmt = Cached(sql, sql);
    stmt.Execute(filterParams_);
    while (stmt.Fetch()) {
        Row row;
        row.reserve(fields_.size());
        for (size_t i = 0; i < fields_.size(); ++i) {
            row.push_back(stmt.Get(static_cast<SQLUSMALLINT>(i + 1), StorageType(fields_[i].kind)));
        }
        rows_.push_back(std::move(row));
    }
    stmt.CloseCursor();
    LoadMembers();
    return true;
}

void Recordset::MoveFirst() {
    row_ = 0;
    mode_ = Mode::None;
    LoadMembers();
}

void Recordset::MoveNext() {
    if (row_ < rows_.size()) ++row_;
    mode_ = Mode::None;
    LoadMembers();
}

void Recordset::ResetMembers() {
    for (const auto& f : fields_) ResetMember(f);
}

void Recordset::LoadMembers() {
    ResetMembers();
    usable_.assign(fields_.size(), false);
    loaded_.assign(fields_.size(), SqlValue());
    forced_.assign(fields_.size(), false);
    if (IsEOF()) return;
    const Row& row = rows_[row_];
    for (size_t i = 0; i < fields_.size(); ++i) {
        usable_[i] = LoadMember(fields_[i], row[i]);
        loaded_[i] = MemberValue(fields_[i]);
    }
}

size_t Recordset::ColumnIndex(const char* bareName) const {
    for (size_t i = 0; i < fields_.size(); ++i) {
        if (fields_[i].name == bareName) return i;
    }
    throw OdbcError(std::string("no bound column ") + bareName, "");
}

std::string Recordset::GetFieldText(const char* bareName) const {
    const size_t i = ColumnIndex(bareName);
    if (IsEOF()) throw OdbcError("no current row", "");
    const SqlValue& v = rows_[row_][i];
    switch (v.type) {
    case SqlValue::Type::Null: return std::string();
    case SqlValue::Type::Integer: return std::to_string(v.integer);
    case SqlValue::Type::Text: return v.text;
    case SqlValue::Type::Real: {
        char text[32];
        std::snprintf(text, sizeof text, "%.9g", v.real);
        return text;
    }
    }
    return std::string();
}

bool Recordset::HasValue(const char* bareName) const {
    const size_t i = ColumnIndex(bareName);
    return !IsEOF() && usable_[i];
}

void Recordset::Edit() {
    if (IsEOF()) throw OdbcError("no current row to edit", "");
    mode_ = Mode::Edit;
}

void Recordset::AddNew() {
    if (!open_) throw OdbcError("recordset not open", "");
    ResetMembers();
    mode_ = Mode::AddNew;
}

std::string Recordset::RowCondition(const Row& row, std::vector<SqlValue>& params) const {
    std::vector<ColumnMatch> matches;
    for (const SqlValue& v : row) {
        if (v.IsNull()) {
            matches.push_back(ColumnMatch::IsNull);
        } else if (v.type == SqlValue::Type::Real && std::isfinite(v.real)) {
            const double window = std::fabs(v.real) * kFloatMatchTolerance;
            matches.push_back(ColumnMatch::Within);
            params.push_back(SqlValue::Real(v.real - window));
            params.push_back(SqlValue::Real(v.real + window));
        } else {
            matches.push_back(ColumnMatch::Equal);
            params.push_back(v);
        }
    }
    return RowConditionSql(columns_, matches);
}

bool Recordset::Update() {
    const Mode mode = mode_;
    mode_ = Mode::None;
    if (mode == Mode::AddNew) {
        const std::string sql = InsertSql(columns_, Table());
        std::vector<SqlValue> params;
        for (const auto& f : fields_) params.push_back(MemberValue(f));
        OdbcStatement& stmt = Cached(sql, sql);
        stmt.Execute(params);
        LoadMembers();  // the current row's values again, as before AddNew
        return true;
    }
    if (mode != Mode::Edit) throw OdbcError("update without edit or add-new", "");
    if (IsEOF()) throw OdbcError("no current row to update", "");

    Row& row = rows_[row_];
    std::vector<std::string> columns;
    std::vector<SqlValue> params;
    std::vector<size_t> changed;
    for (size_t i = 0; i < fields_.size(); ++i) {
        SqlValue now = MemberValue(fields_[i]);
        if (!forced_[i] && SameValue(now, loaded_[i])) continue;
        columns.push_back(columns_[i]);
        params.push_back(std::move(now));
        changed.push_back(i);
    }
    if (changed.empty()) return true;  // nothing to write
    const std::string sql = UpdateSql(columns, Table(), RowCondition(row, params));
    OdbcStatement& stmt = Cached(sql, sql);
    stmt.Execute(params);
    if (stmt.RowCount() < 1) {
        LoadMembers();  // the members again as read: the edit is dropped
        return false;
    }
    for (size_t i : changed) {
        row[i] = MemberValue(fields_[i]);
        loaded_[i] = row[i];
        usable_[i] = true;
        forced_[i] = false;
    }
    return true;
}

void Recordset::DeleteFiltered() {
    if (!open_) throw OdbcError("recordset not open", "");
    const std::string sql = DeleteFilteredSql(Table(), QuoteBracketedNames(filter_, quote_));
    OdbcStatement& stmt = Cached(sql, sql);
    stmt.Execute(filterParams_);
    rows_.clear();
    row_ = 0;
    mode_ = Mode::None;
    LoadMembers();
}

}  // namespace vorlan
