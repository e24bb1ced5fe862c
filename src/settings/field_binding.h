// SPDX-License-Identifier: Apache-2.0
#pragma once
// The bound columns of a recordset: which member of the derived class holds
// which column, and the moves of a value between a member and the database.

#include <cstdint>
#include <string>
#include <vector>

#include "settings/odbc_handles.h"

namespace vorlan {

// Collects the bound columns of a recordset, in binding order.
class FieldExchange {
public:
    enum class Kind { Text, Long, UnsignedByte, Float };
    struct Binding {
        std::string name;  // bare column name
        Kind kind;
        void* member;
    };
    void Text(const char* name, std::string& member) { Add(name, Kind::Text, &member); }
    void Long(const char* name, int32_t& member) { Add(name, Kind::Long, &member); }
    void UnsignedByte(const char* name, uint8_t& member) { Add(name, Kind::UnsignedByte, &member); }
    void Float(const char* name, float& member) { Add(name, Kind::Float, &member); }
    std::vector<Binding>& bindings() { return bindings_; }

private:
    void Add(const char* name, Kind kind, void* member) { bindings_.push_back({name, kind, member}); }
    std::vector<Binding> bindings_;
};

// The type a column of `kind` is fetched as.
SqlValue::Type StorageType(FieldExchange::Kind kind);

// Empties the member (0 or "").
void ResetMember(const FieldExchange::Binding& field);

// Stores `value` in the member; false, with the member left as it was, when
// the value is NULL or doesn't fit the member's type.
bool LoadMember(const FieldExchange::Binding& field, const SqlValue& value);

// The member's value as the database takes it.
SqlValue MemberValue(const FieldExchange::Binding& field);

// Same type and same value (a real compared bit for bit).
bool SameValue(const SqlValue& a, const SqlValue& b);

}  // namespace vorlan
