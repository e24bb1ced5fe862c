#pragma once
// The one owner of a relay's setting state (register DZWR): the host's zone
// and write requests, the builder's zone switch and the answers ask here.

#include <cstdint>

#include "model/device_record.h"

namespace vorlan {

// The host asks for `zone`'s settings (DZone): read at the relay's next turn.
void AskSettingRead(DeviceRecord& relay, uint8_t zone);

// The host makes `zone` the active one (DZNow); its settings are read after.
void AskZoneSwitch(DeviceRecord& relay, uint8_t zone);

// The host writes the edited settings (DZWR 2).
void AskSettingWrite(DeviceRecord& relay);

// The builder sent the zone switch: the zone's settings are read next.
void ZoneSwitchWritten(DeviceRecord& relay);

// Called by the builder before it picks the relay's request: a switched zone
// is read now. True when it set the read.
bool SettingReadDue(DeviceRecord& relay);

// The relay acknowledged the setting write it was sent.
void SettingWriteAcknowledged(DeviceRecord& relay);

// A setting table arrived from the relay.
void SettingsReceived(DeviceRecord& relay);

}  // namespace vorlan
