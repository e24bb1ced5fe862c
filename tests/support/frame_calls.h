// SPDX-License-Identifier: Apache-2.0
#pragma once
// The packet cycle's steps called on a caller's bytes, as the tests hold
// them: the frame buffer made around them and its lengths copied back.

#include <cstddef>
#include <cstdint>

#include "link/fast_exchange.h"
#include "link/frame_exchange.h"
#include "model/frame.h"
#include "protocol/request_builder.h"
#include "tags/tag_service.h"

namespace vorlan_test {

inline int32_t BuildInto(vorlan::PollingState& state, vorlan::Clock& clock, uint8_t* bytes,
                         size_t capacity, int32_t& length, int32_t& expectedLength) {
    vorlan::FrameBuffer frame{bytes, capacity, length, expectedLength};
    const int32_t result = vorlan::BuildRequest(state, clock, frame);
    length = frame.length;
    expectedLength = frame.expectedLength;
    return result;
}

inline int32_t ServeInto(vorlan::TagContext& ctx, HostPacket* packet, uint8_t* bytes, size_t capacity,
                         int32_t& length, int32_t& expectedLength, int32_t origin) {
    vorlan::FrameBuffer frame{bytes, capacity, length, expectedLength};
    const int32_t result = vorlan::ServePacket(ctx, packet, frame, origin);
    length = frame.length;
    expectedLength = frame.expectedLength;
    return result;
}

inline int32_t ExchangeIn(vorlan::ExchangeContext& ctx, uint8_t* bytes, size_t capacity, int32_t& length) {
    vorlan::FrameBuffer frame{bytes, capacity, length, 0};
    const int32_t result = vorlan::ExchangeFrame(ctx, frame);
    length = frame.length;
    return result;
}

inline int32_t ExchangeFastIn(vorlan::ExchangeContext& ctx, const vorlan::FastTiming& timing,
                              uint8_t* bytes, size_t capacity, int32_t& length) {
    vorlan::FrameBuffer frame{bytes, capacity, length, 0};
    const int32_t result = vorlan::ExchangeFrameFast(ctx, timing, frame);
    length = frame.length;
    return result;
}

}  // namespace vorlan_test
