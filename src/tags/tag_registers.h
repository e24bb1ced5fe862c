// SPDX-License-Identifier: Apache-2.0
#pragma once
// The registers the tag service serves, grouped by concern (their indexes are
// VorlanRegister in vorlan/driver.h). Each function works on the packet's
// relay; `write` is the packet's own direction.

#include <cstdint>

#include "tags/tag_service.h"

namespace vorlan {

// YK: the select, cancel and progress codes of a remote control.
void ServeRemoteControl(TagContext& ctx, HostPacket* packet, DeviceRecord& relay, bool write);

// DZone, DZWR, DZNow: setting zone choice, switch and write.
void ServeSettingZone(HostPacket* packet, DeviceRecord& relay, bool write);
void ServeSettingWrite(TagContext& ctx, HostPacket* packet, DeviceRecord& relay, bool write);
void ServeZoneSwitch(HostPacket* packet, DeviceRecord& relay, bool write);

// LBStart, LBID, LBTime, LBCount: the relay's fault-recording list.
void ServeRecordingStart(TagContext& ctx, HostPacket* packet, DeviceRecord& relay, bool write);
void ServeRecordingIds(TagContext& ctx, HostPacket* packet, DeviceRecord& relay, bool write);
void ServeRecordingTimes(TagContext& ctx, HostPacket* packet, DeviceRecord& relay, bool write);
void ServeRecordingCount(TagContext& ctx, HostPacket* packet, DeviceRecord& relay, bool write);

}  // namespace vorlan
