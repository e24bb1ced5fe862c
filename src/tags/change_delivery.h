#pragma once
// Hands queued status changes to the items of a BWYX read packet.

#include <cstdint>

#include "platform/clock.h"
#include "platform/relay_zone.h"
#include "model/device_record.h"
#include "tags/served_quality.h"
#include "vorlan/driver.h"

namespace vorlan {

// Prunes the records no item asks for, then fills the items. Returns 1.
// A change is stamped with its relay time read in `zone` (the relays' zone)
// as UTC; items with no change, and changes whose time no calendar holds,
// are stamped with the clock's UTC now. Each item carries the quality `known`
// says of the relay; while that is not good, the items with no change carry
// its stamp instead of now.
int32_t DeliverChanges(DeviceRecord& relay, HostPacket* packet, Clock& clock, const RelayZone& zone,
                       ServedQuality known = {VORLAN_QUALITY_GOOD, 0});

}  // namespace vorlan
