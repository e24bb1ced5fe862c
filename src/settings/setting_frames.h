// SPDX-License-Identifier: Apache-2.0
#pragma once
// The device-record side of the two setting answers: what a coded list (0xBD)
// or a float layout (0xAD) puts into the relay's setting slots. Nothing here
// touches the database.

#include "model/device_record.h"
#include "model/byte_view.h"

namespace vorlan {

constexpr int32_t kCodedTypeReported = 21;  // a coded list's type 21 ...
constexpr int32_t kCodedTypeStored = 210;   // ... is kept as 210

// Sets settingAnswerCode and rtuType, clears every settingCode and fills one
// slot per kind-0 or kind-2 entry. The walk ends at the end of the payload,
// or at an entry whose value bytes would run past it. Returns the number of
// slots filled, or -1 when the payload holds no entries (N of 6 or less).
int32_t DecodeCodedSettings(DeviceRecord& relay, ByteView frame);

struct SettingValueCounts {
    int32_t floats = 0;  // F, as far as the payload holds the values
    int32_t bytes = 0;   // B, likewise
};

// Sets settingAnswerCode and rtuType and fills settingValue with the 4-byte
// values and settingFlag with the 1-byte values. False when the payload is
// too short to hold any (N of 6 or less).
bool DecodeSettingValues(DeviceRecord& relay, ByteView frame, SettingValueCounts& counts);

// Settings are stored; a pending write (state 2) keeps its state.
void MarkSettingsReceived(DeviceRecord& relay);

}  // namespace vorlan
