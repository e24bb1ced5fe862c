// SPDX-License-Identifier: Apache-2.0
#pragma once
// Chooses the relay served next and writes its request into the frame buffer.

#include <cstddef>
#include <cstdint>

#include "platform/clock.h"
#include "model/device_record.h"
#include "model/frame.h"

namespace vorlan {

// Builds at most one frame into `buffer` for one of the registered relays.
// Sets its length to the frame's size (0 when nothing is to be sent) and its
// expected length as the request asks. Returns 1, or 0 with nothing built
// when no relay is registered.
int32_t BuildRequest(PollingState& state, Clock& clock, FrameBuffer& buffer);

// The 0x8C frame for the current relay in the layout of its last setting
// answer; returns its size, 0 when there is nothing that fits one frame.
int32_t BuildSettingWrite(PollingState& state, uint8_t* frame, size_t capacity);

// The five-byte general poll for `address`; returns 5.
int32_t BuildProbe(uint8_t address, uint8_t* frame, size_t capacity);

}  // namespace vorlan
