#include "settings/recordset.h"

#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>

namespace vorlan {

namespace {

SqlValue::Type StorageType(FieldExchange::Kind kind) {
    switch (kind) {
    case FieldExchange::Kind::Text: return SqlValue::Type::Text;
    case FieldExchange::Kind::Float: return SqlValue::Type::Real;
    case FieldExchange::Kind::Long:
    case FieldExchange::Kind::UnsignedByte: break;
    }
    return SqlValue::Type::Integer;
}

bool SameValue(const SqlValue& a, const SqlValue& b) {
    if (a.type != b.type) return false;
    switch (a.type) {
    case SqlValue::Type::Null: return true;
    case SqlValue::Type::Integer: return a.integer == b.integer;
    case SqlValue::Type::Real: return std::memcmp(&a.real, &b.real, sizeof a.real) == 0;
    case SqlValue::Type::Text: return a.text == b.text;
    }
    return false;
}

// Relative width of the window in which a float column matches the value read
// from it: drivers pass floats through text of limited precision, so the
// stored value and the value read can differ in the last digits.
constexpr double kFloatMatchTolerance = 1e-6;

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

Recordset::Recordset(OdbcConnection& db) : db_(db) {}

Recordset::~Recordset() = default;

std::string Recordset::Table() const { return QuoteBracketedNames(GetDefaultSQL(), quote_); }

std::string Recordset::Column(size_t i) const { return quote_ + fields_[i].name + quote_; }

void Recordset::Open() {
    if (open_) return;
    FieldExchange fx;
    DoFieldExchange(fx);
    fields_ = std::move(fx.bindings());
    quote_ = db_.IdentifierQuote();
    // A query that reads nothing still fails for a missing table or column.
    std::string sql = "SELECT ";
    for (size_t i = 0; i < fields_.size(); ++i) sql += (i ? ", " : "") + Column(i);
    sql += " FROM " + Table() + " WHERE 1 = 0";
    OdbcStatement probe(db_);
    probe.Prepare(sql);
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
    std::string sql = "SELECT ";
    for (size_t i = 0; i < fields_.size(); ++i) sql += (i ? ", " : "") + Column(i);
    sql += " FROM " + Table();
    if (!filter_.empty()) sql += " WHERE " + QuoteBracketedNames(filter_, quote_);
    if (!sort_.empty()) sql += " ORDER BY " + QuoteBracketedNames(sort_, quote_);

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
    deleted_.assign(rows_.size(), false);
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
    for (auto& f : fields_) {
        switch (f.kind) {
        case FieldExchange::Kind::Text: static_cast<std::string*>(f.member)->clear(); break;
        case FieldExchange::Kind::Long: *static_cast<int32_t*>(f.member) = 0; break;
        case FieldExchange::Kind::UnsignedByte: *static_cast<uint8_t*>(f.member) = 0; break;
        case FieldExchange::Kind::Float: *static_cast<float*>(f.member) = 0.0f; break;
        }
    }
}

void Recordset::LoadMembers() {
    ResetMembers();
    usable_.assign(fields_.size(), false);
    loaded_.assign(fields_.size(), SqlValue());
    forced_.assign(fields_.size(), false);
    if (IsEOF()) return;
    const Row& row = rows_[row_];
    for (size_t i = 0; i < fields_.size(); ++i) {
        const SqlValue& v = row[i];
        const FieldExchange::Binding& f = fields_[i];
        bool fits = !v.IsNull();
        if (fits) {
            switch (f.kind) {
            case FieldExchange::Kind::Text: *static_cast<std::string*>(f.member) = v.text; break;
            case FieldExchange::Kind::Long:
                fits = v.integer >= std::numeric_limits<int32_t>::min() &&
                       v.integer <= std::numeric_limits<int32_t>::max();
                if (fits) *static_cast<int32_t*>(f.member) = static_cast<int32_t>(v.integer);
                break;
            case FieldExchange::Kind::UnsignedByte:
                fits = v.integer >= 0 && v.integer <= 255;
                if (fits) *static_cast<uint8_t*>(f.member) = static_cast<uint8_t>(v.integer);
                break;
            case FieldExchange::Kind::Float:
                fits = std::isnan(v.real) || std::fabs(v.real) <= static_cast<double>(FLT_MAX) ||
                       std::isinf(v.real);
                if (fits) *static_cast<float*>(f.member) = static_cast<float>(v.real);
                break;
            }
        }
        usable_[i] = fits;
        loaded_[i] = MemberValue(i);
    }
}

SqlValue Recordset::MemberValue(size_t column) const {
    const FieldExchange::Binding& f = fields_[column];
    switch (f.kind) {
    case FieldExchange::Kind::Text: return SqlValue::Text(*static_cast<const std::string*>(f.member));
    case FieldExchange::Kind::Long: return SqlValue::Integer(*static_cast<const int32_t*>(f.member));
    case FieldExchange::Kind::UnsignedByte:
        return SqlValue::Integer(*static_cast<const uint8_t*>(f.member));
    case FieldExchange::Kind::Float:
        return SqlValue::Real(static_cast<double>(*static_cast<const float*>(f.member)));
    }
    return SqlValue();
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
    if (IsEOF() || deleted_[row_]) throw OdbcError("no current row to edit", "");
    mode_ = Mode::Edit;
}

void Recordset::AddNew() {
    if (!open_) throw OdbcError("recordset not open", "");
    ResetMembers();
    mode_ = Mode::AddNew;
}

std::string Recordset::RowCondition(const Row& row, std::vector<SqlValue>& params) const {
    std::string where;
    for (size_t i = 0; i < fields_.size(); ++i) {
        if (i) where += " AND ";
        const SqlValue& v = row[i];
        if (v.IsNull()) {
            where += Column(i) + " IS NULL";
        } else if (v.type == SqlValue::Type::Real && std::isfinite(v.real)) {
            const double window = std::fabs(v.real) * kFloatMatchTolerance;
            where += Column(i) + " BETWEEN ? AND ?";
            params.push_back(SqlValue::Real(v.real - window));
            params.push_back(SqlValue::Real(v.real + window));
        } else {
            where += Column(i) + " = ?";
            params.push_back(v);
        }
    }
    return where;
}

bool Recordset::Update() {
    const Mode mode = mode_;
    mode_ = Mode::None;
    if (mode == Mode::AddNew) {
        std::string sql = "INSERT INTO " + Table() + " (";
        std::string markers;
        std::vector<SqlValue> params;
        for (size_t i = 0; i < fields_.size(); ++i) {
            sql += (i ? ", " : "") + Column(i);
            markers += i ? ", ?" : "?";
            params.push_back(MemberValue(i));
        }
        sql += ") VALUES (" + markers + ")";
        OdbcStatement& stmt = Cached(sql, sql);
        stmt.Execute(params);
        LoadMembers();  // the current row's values again, as before AddNew
        return true;
    }
    if (mode != Mode::Edit) throw OdbcError("update without edit or add-new", "");
    if (IsEOF() || deleted_[row_]) throw OdbcError("no current row to update", "");

    Row& row = rows_[row_];
    std::string sql = "UPDATE " + Table() + " SET ";
    std::vector<SqlValue> params;
    std::vector<size_t> changed;
    for (size_t i = 0; i < fields_.size(); ++i) {
        SqlValue now = MemberValue(i);
        if (!forced_[i] && SameValue(now, loaded_[i])) continue;
        sql += (changed.empty() ? "" : ", ") + Column(i) + " = ?";
        params.push_back(std::move(now));
        changed.push_back(i);
    }
    if (changed.empty()) return true;  // nothing to write
    sql += " WHERE " + RowCondition(row, params);
    OdbcStatement& stmt = Cached(sql, sql);
    stmt.Execute(params);
    if (stmt.RowCount() < 1) {
        LoadMembers();  // the members again as read: the edit is dropped
        return false;
    }
    for (size_t i : changed) {
        row[i] = MemberValue(i);
        loaded_[i] = row[i];
        usable_[i] = true;
        forced_[i] = false;
    }
    return true;
}

void Recordset::Delete() {
    if (IsEOF() || deleted_[row_]) throw OdbcError("no current row to delete", "");
    mode_ = Mode::None;
    std::vector<SqlValue> params;
    const std::string sql = "DELETE FROM " + Table() + " WHERE " + RowCondition(rows_[row_], params);
    OdbcStatement& stmt = Cached(sql, sql);
    stmt.Execute(params);
    if (stmt.RowCount() < 1) throw OdbcError("the row to delete is no longer there", "");
    deleted_[row_] = true;
}

void Recordset::DeleteFiltered() {
    if (!open_) throw OdbcError("recordset not open", "");
    std::string sql = "DELETE FROM " + Table();
    if (!filter_.empty()) sql += " WHERE " + QuoteBracketedNames(filter_, quote_);
    OdbcStatement& stmt = Cached(sql, sql);
    stmt.Execute(filterParams_);
    rows_.clear();
    deleted_.clear();
    row_ = 0;
    mode_ = Mode::None;
    LoadMembers();
}

}  // namespace vorlan
