// SPDX-License-Identifier: Apache-2.0
#pragma once
// The two tables of the setting database with their bound columns.

#include <cstdint>
#include <string>

#include "settings/recordset.h"

namespace vorlan {

// The point catalogue [RelayName]: the settings of each relay type by kind
// (1 = numeric, 2 = byte) and 1-based number, with their current values.
class CMyRecordset final : public Recordset {
public:
    explicit CMyRecordset(OdbcConnection& db) : Recordset(db) {}

    std::string m_Comment;  // bound, never used by the driver
    float m_Value = 0.0f;
    int32_t m_RtuType = 0;
    int32_t m_RelayType = 0;
    int32_t m_RelayID = 0;
    std::string m_RelayName;

protected:
    std::string GetDefaultSQL() const override { return "[RelayName]"; }
    void DoFieldExchange(FieldExchange& fx) override {
        fx.Text("Comment", m_Comment);
        fx.Float("Value", m_Value);
        fx.Long("RtuType", m_RtuType);
        fx.Long("RelayType", m_RelayType);
        fx.Long("RelayID", m_RelayID);
        fx.Text("RelayName", m_RelayName);
    }
};

// The coded settings [RelayDevSet] last read from each relay type.
class RecordsetDev final : public Recordset {
public:
    explicit RecordsetDev(OdbcConnection& db) : Recordset(db) {}

    uint8_t m_type = 0;
    uint8_t m_group = 0;
    uint8_t m_code = 0;
    int32_t m_number = 0;
    std::string m_name;
    float m_value = 0.0f;
    uint8_t m_flag = 0;

protected:
    std::string GetDefaultSQL() const override { return "[RelayDevSet]"; }
    void DoFieldExchange(FieldExchange& fx) override {
        fx.UnsignedByte("type", m_type);
        fx.UnsignedByte("group", m_group);
        fx.UnsignedByte("code", m_code);
        fx.Long("number", m_number);
        fx.Text("name", m_name);
        fx.Float("value", m_value);
        fx.UnsignedByte("flag", m_flag);
    }
};

}  // namespace vorlan
