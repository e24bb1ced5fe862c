// SPDX-License-Identifier: Apache-2.0
#pragma once
// Serves one host packet: copies a relay's stored values into the packet's
// items or turns a host write into a change of the relay's record; for Send
// (and FG 80) it has the request builder write the next request.

#include <cstddef>
#include <cstdint>

#include "platform/clock.h"
#include "model/device_record.h"
#include "model/frame.h"
#include "vorlan/driver.h"

namespace vorlan {

class SettingService;

struct TagContext {
    PollingState& state;
    Clock& clock;
    SettingService* settings;  // may be null (no database work)
    bool legacyQuality = false;  // quality = legacy: every value good, stamped now
};

// 0 when the packet's deviceIndex lies outside 0..31, else 1.
// A Send packet's request (or an FG 80's) is built into `frame`.
int32_t ServePacket(TagContext& ctx, HostPacket* packet, FrameBuffer& frame, int32_t origin);

// Releases the LBTime atoms the records still hold (the component is going).
void ReleaseRecordingAtoms(PollingState& state);

}  // namespace vorlan
