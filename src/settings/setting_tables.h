// SPDX-License-Identifier: Apache-2.0
#pragma once
// The database side of the setting answers and of the reload before a write.
// Each function works inside the caller's transaction and throws OdbcError on
// a database error.

#include "model/device_record.h"
#include "settings/setting_recordsets.h"

namespace vorlan {

// Coded list: replaces the setting table's rows of the relay type with one row
// per slot that the catalogue names, in catalogue order.
void WriteCodedSettings(const DeviceRecord& relay, int32_t slots, RecordsetDev& settingSet,
                        CMyRecordset* catalogueSet);

// Float layout: the catalogue's Value of each numeric point 1..floats and each
// byte point 1..bytes of the relay type.
void WriteSettingValues(const DeviceRecord& relay, int32_t floats, int32_t bytes,
                        CMyRecordset& catalogueSet);

// Back into the slots: the edited value and flag of each coded setting.
void ReloadCodedSettings(DeviceRecord& relay, RecordsetDev& settingSet);
// Back into the slots: the edited catalogue values of the float layout.
void ReloadSettingValues(DeviceRecord& relay, CMyRecordset& catalogueSet);

}  // namespace vorlan
