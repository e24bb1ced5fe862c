#pragma once
// Hands queued status changes to the items of a BWYX read packet.

#include <cstdint>

#include "platform/calendar.h"
#include "platform/clock.h"
#include "model/device_record.h"
#include "tags/served_quality.h"
#include "vorlan/driver.h"

namespace vorlan {

// Prunes the records no item asks for, then fills the items, each with the
// quality `known` says of the relay (the items with no change are stamped
// now while it is good, else with `known`'s stamp). Returns 1.
int32_t DeliverChanges(DeviceRecord& relay, HostPacket* packet, Clock& clock,
                       ServedQuality known = {VORLAN_QUALITY_GOOD, 0});

// Takes the fields as local time, subtracts eight hours and stores local
// fields back (ms and day of week kept). 0 when `t` is null. A date the
// calendar can't represent becomes the current local time less eight hours.
int32_t LocalToUtc(SystemTime* t, Clock& clock);

}  // namespace vorlan
