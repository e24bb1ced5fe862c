#pragma once
// The registers the tag service serves, grouped by concern. Each function
// works on the packet's relay; `write` is the packet's own direction.

#include <cstdint>

#include "tags/tag_service.h"

namespace vorlan {

// Catalogue positions of the registers.
enum class TagRegister : int16_t {
    Send = 0,
    Show = 1,
    YC = 2,
    YX = 3,
    YM = 4,
    YK = 5,
    Alarm = 6,
    Event = 7,
    DZone = 8,
    CPU = 9,
    FG = 10,
    RtuType = 11,
    BWYX = 12,
    DZWR = 13,
    DZNow = 14,
    RtuID = 15,
    LBStart = 16,
    LBID = 17,
    LBTime = 18,
    LBCount = 19,
};
constexpr int16_t kRegisterCount = 20;

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
