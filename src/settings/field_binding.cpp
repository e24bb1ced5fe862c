// SPDX-License-Identifier: Apache-2.0
#include "settings/field_binding.h"

#include <cfloat>
#include <cmath>
#include <cstring>
#include <limits>

namespace vorlan {

SqlValue::Type StorageType(FieldExchange::Kind kind) {
    switch (kind) {
    case FieldExchange::Kind::Text: return SqlValue::Type::Text;
    case FieldExchange::Kind::Float: return SqlValue::Type::Real;
    case FieldExchange::Kind::Long:
    case FieldExchange::Kind::UnsignedByte: break;
    }
    return SqlValue::Type::Integer;
}

void ResetMember(const FieldExchange::Binding& f) {
    switch (f.kind) {
    case FieldExchange::Kind::Text: static_cast<std::string*>(f.member)->clear(); break;
    case FieldExchange::Kind::Long: *static_cast<int32_t*>(f.member) = 0; break;
    case FieldExchange::Kind::UnsignedByte: *static_cast<uint8_t*>(f.member) = 0; break;
    case FieldExchange::Kind::Float: *static_cast<float*>(f.member) = 0.0f; break;
    }
}

bool LoadMember(const FieldExchange::Binding& f, const SqlValue& v) {
    if (v.IsNull()) return false;
    bool fits = true;
    switch (f.kind) {
    case FieldExchange::Kind::Text: *static_cast<std::string*>(f.member) = v.text; break;
    case FieldExchange::Kind::Long:
        fits = v.integer >= std::numeric_limits<int32_t>::min() && v.integer <= std::numeric_limits<int32_t>::max();
        if (fits) *static_cast<int32_t*>(f.member) = static_cast<int32_t>(v.integer);
        break;
    case FieldExchange::Kind::UnsignedByte:
        fits = v.integer >= 0 && v.integer <= 255;
        if (fits) *static_cast<uint8_t*>(f.member) = static_cast<uint8_t>(v.integer);
        break;
    case FieldExchange::Kind::Float:
        fits = std::isnan(v.real) || std::fabs(v.real) <= static_cast<double>(FLT_MAX) || std::isinf(v.real);
        if (fits) *static_cast<float*>(f.member) = static_cast<float>(v.real);
        break;
    }
    return fits;
}

SqlValue MemberValue(const FieldExchange::Binding& f) {
    switch (f.kind) {
    case FieldExchange::Kind::Text: return SqlValue::Text(*static_cast<const std::string*>(f.member));
    case FieldExchange::Kind::Long: return SqlValue::Integer(*static_cast<const int32_t*>(f.member));
    case FieldExchange::Kind::UnsignedByte: return SqlValue::Integer(*static_cast<const uint8_t*>(f.member));
    case FieldExchange::Kind::Float:
        return SqlValue::Real(static_cast<double>(*static_cast<const float*>(f.member)));
    }
    return SqlValue();
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

}  // namespace vorlan
