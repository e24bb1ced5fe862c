#pragma once
// The answers whose values the dispatcher stores itself: 0x06 (measurements,
// status points, counters) and 0xB1 (time-tagged status changes). Both work
// on `relay`, the answering relay, and take its checked answer frame.

#include <cstdint>

#include "model/device_record.h"
#include "model/byte_view.h"

namespace vorlan {

// Answer 0x06. An entry index or group number beyond its table is ignored;
// each stored value is stamped reported at `answerTime`.
// 0 when the frame's address is not the relay's, else 1.
int32_t StoreData(DeviceRecord& relay, ByteView frame, uint64_t answerTime);

// Answer 0xB1: queues one change per differing bit of each group, in group
// and bit order, up to the first group whose old and new states are equal.
// 0 when the frame's address is not the relay's, else 1.
int32_t StoreChanges(DeviceRecord& relay, ByteView frame);

}  // namespace vorlan
