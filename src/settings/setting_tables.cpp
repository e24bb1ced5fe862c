// SPDX-License-Identifier: Apache-2.0
#include "settings/setting_tables.h"

#include <cmath>
#include <cstdlib>

namespace vorlan {

namespace {

constexpr uint8_t kCodedGroup = 2;  // the group of every row the driver writes
const char kNumericKind[] = "1";
const char kByteKind[] = "2";

int32_t SlotLimit(int32_t count) {
    return count < 0 ? 0 : (count > kSettingSlots ? kSettingSlots : count);
}

// The integer value of a column's text, 0 when it isn't one.
long TextToInteger(const std::string& text) { return std::strtol(text.c_str(), nullptr, 10); }

void SelectCatalogue(CMyRecordset& catalogueSet, int32_t rtuType) {
    catalogueSet.SetFilter("[RtuType] = ?", {SqlValue::Integer(rtuType)});
    catalogueSet.SetSort("[RelayID]");
    catalogueSet.Requery();
}

void SelectSettingTable(RecordsetDev& settingSet, int32_t rtuType) {
    settingSet.SetFilter("[type] = ?", {SqlValue::Integer(rtuType)});
    settingSet.SetSort("[code]");
}

}  // namespace

void WriteCodedSettings(const DeviceRecord& relay, int32_t slots, RecordsetDev& settingSet,
                        CMyRecordset* catalogueSet) {
    const int32_t n = SlotLimit(slots);
    // Every coded setting stored earlier for this relay type goes.
    SelectSettingTable(settingSet, relay.settings.rtuType);
    settingSet.DeleteFiltered();
    if (catalogueSet == nullptr) return;

    SelectCatalogue(*catalogueSet, relay.settings.rtuType);
    for (catalogueSet->MoveFirst(); !catalogueSet->IsEOF(); catalogueSet->MoveNext()) {
        if (catalogueSet->GetFieldText("RelayType") != kNumericKind) continue;
        // Numeric point RelayID names the setting with code RelayID - 1.
        const long id = TextToInteger(catalogueSet->GetFieldText("RelayID"));
        for (int32_t i = 0; i < n; ++i) {
            const auto slot = static_cast<size_t>(i);
            if (id != static_cast<long>(relay.settings.settingCode[slot]) + 1) continue;
            settingSet.AddNew();
            settingSet.m_type = static_cast<uint8_t>(relay.settings.rtuType & 0xFF);
            settingSet.m_group = kCodedGroup;
            settingSet.m_code = relay.settings.settingCode[slot];
            settingSet.m_number = 0;
            settingSet.m_name = catalogueSet->m_RelayName;
            settingSet.m_value = relay.settings.settingValue[slot];
            settingSet.m_flag = relay.settings.settingFlag[slot];
            settingSet.Update();
            break;  // the first matching slot only
        }
    }
}

void WriteSettingValues(const DeviceRecord& relay, int32_t floats, int32_t bytes,
                        CMyRecordset& catalogueSet) {
    const int32_t f = SlotLimit(floats);
    const int32_t b = SlotLimit(bytes);
    SelectCatalogue(catalogueSet, relay.settings.rtuType);
    for (catalogueSet.MoveFirst(); !catalogueSet.IsEOF(); catalogueSet.MoveNext()) {
        const std::string kind = catalogueSet.GetFieldText("RelayType");
        const long id = TextToInteger(catalogueSet.GetFieldText("RelayID"));
        float value = 0.0f;
        if (kind == kNumericKind && id >= 1 && id <= f) {
            value = relay.settings.settingValue[static_cast<size_t>(id - 1)];
        } else if (kind == kByteKind && id >= 1 && id <= b) {
            value = static_cast<float>(relay.settings.settingFlag[static_cast<size_t>(id - 1)]);
        } else {
            continue;  // left as it is
        }
        catalogueSet.Edit();
        catalogueSet.m_Value = value;
        if (!catalogueSet.HasValue("Value")) catalogueSet.SetFieldDirty("Value");  // NULL until now
        // A row that changes nothing here is skipped, the rest of the answer
        // still stored: an exact duplicate was changed together with the row
        // before it, and a row the host's tool changed since the query keeps
        // the tool's value.
        catalogueSet.Update();
    }
}

void ReloadCodedSettings(DeviceRecord& relay, RecordsetDev& settingSet) {
    const int32_t count = SlotLimit(relay.settings.settingCount);
    SelectSettingTable(settingSet, relay.settings.rtuType);
    settingSet.Requery();
    for (settingSet.MoveFirst(); !settingSet.IsEOF(); settingSet.MoveNext()) {
        if (!settingSet.HasValue("group") || settingSet.m_group != kCodedGroup) continue;
        if (!settingSet.HasValue("code")) continue;
        for (int32_t i = 0; i < count; ++i) {
            const auto slot = static_cast<size_t>(i);
            if (relay.settings.settingCode[slot] != settingSet.m_code) continue;
            // A value or flag the operator left empty keeps what the relay sent.
            if (settingSet.HasValue("value")) relay.settings.settingValue[slot] = settingSet.m_value;
            if (settingSet.HasValue("flag")) relay.settings.settingFlag[slot] = settingSet.m_flag;
            break;
        }
    }
}

void ReloadSettingValues(DeviceRecord& relay, CMyRecordset& catalogueSet) {
    const int32_t floats = SlotLimit(relay.settings.settingCount);
    const int32_t bytes = SlotLimit(relay.settings.settingByteCount);
    SelectCatalogue(catalogueSet, relay.settings.rtuType);
    for (catalogueSet.MoveFirst(); !catalogueSet.IsEOF(); catalogueSet.MoveNext()) {
        if (!catalogueSet.HasValue("Value") || !catalogueSet.HasValue("RelayType") ||
            !catalogueSet.HasValue("RelayID")) {
            continue;
        }
        const int32_t id = catalogueSet.m_RelayID;
        const float value = catalogueSet.m_Value;
        if (catalogueSet.m_RelayType == 1 && id >= 1 && id <= floats) {
            relay.settings.settingValue[static_cast<size_t>(id - 1)] = value;
        } else if (catalogueSet.m_RelayType == 2 && id >= 1 && id <= bytes) {
            // Truncated toward zero, low 8 bits kept; a value with no integer
            // part to speak of (NaN, infinite, beyond 2^63) is left out.
            const double whole = std::trunc(static_cast<double>(value));
            if (!std::isfinite(whole) || std::fabs(whole) >= 9.2e18) continue;
            relay.settings.settingFlag[static_cast<size_t>(id - 1)] =
                static_cast<uint8_t>(static_cast<int64_t>(whole) & 0xFF);
        }
    }
}

}  // namespace vorlan
