// SPDX-License-Identifier: Apache-2.0
#pragma once
// The three time texts of a list entry.

#include <cstdint>

#include "platform/clock.h"
#include "model/device_record.h"

namespace vorlan {

// Fills lbTime, lbStartTimeText and lbTriggerTimeText of list `position` from
// the local clock read now; only the seconds `second` and the fraction
// `fraction` come from the relay. lbTime ("%4d%2d%2d%2d%2d%2d", blank-padded)
// is also the base name of the recording files; the two configuration texts
// are zero-padded as COMTRADE readers expect, with the second clamped to 59
// and the fraction to 999999. Positions outside 0..3 are ignored.
void MakeRecordingTimes(DeviceRecord& relay, int32_t position, uint32_t second, uint32_t fraction,
                        Clock& clock);

}  // namespace vorlan
